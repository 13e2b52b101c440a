#!/usr/bin/env bash
# The virtual card's captions over the live picture: with win.ini's ShowCaptions=1 the caption comes
# once a second in white on a black box near the bottom of the picture, and with the box on the
# video page cleared it is gone. Then "compact" on the recording page and 3 seconds recorded: the
# H.264 carries the captions, which FFmpeg's own decoder reads back. Then a PAL card's wide-screen
# signal (the lossless file's display aspect and the capture log) and its teletext subtitles.
source "$(dirname "$0")/lib.bash"

# Whether the video window's picture shows the caption: in the band of the picture's bottom rows,
# black pixels (the box) and white ones (its letters) side by side.
caption_shown() {
  local w
  w=$(window "$VIDEO_TITLE")
  read -r _ x y width height <<<"$w"
  import -window root -crop "$((width * 6 / 10))x$((height / 8))+$((x + width * 2 / 10))+$((y + height * 3 / 4))" +repage "$OUT/band.png"
  local black white
  black=$(convert "$OUT/band.png" -fx 'r<0.05&&g<0.05&&b<0.05' -format '%[fx:mean]' info:)
  white=$(convert "$OUT/band.png" -fx 'r>0.9&&g>0.9&&b>0.9' -format '%[fx:mean]' info:)
  awk -v b="$black" -v w="$white" 'BEGIN { exit !(b > 0.05 && w > 0.005) }'
}

run() {
  printf '[orvane]\nShowCaptions=1\n' >"$ORVANE_CONFIG_DIR/win.ini"
  start_and_wait
  sleep 1
  open_lid
  sleep 2
  snap captions
  caption_shown || fail "no caption over the live picture (see captions.png)"
  # The video page's box (the second tab) cleared with the keyboard (Tab from the tabs past the four
  # sliders and the colour mode, space), then OK: the live picture comes back without captions.
  open_sheet_tab 150
  xdotool key Tab Tab Tab Tab Tab Tab
  sleep 0.3
  snap video-page
  xdotool key space Return
  sleep 1
  ! shown "환경설정" || fail "Enter did not close the settings sheet"
  grep -q '^ShowCaptions=0' "$ORVANE_CONFIG_DIR/win.ini" || fail "the cleared box was not stored: $(cat "$ORVANE_CONFIG_DIR/win.ini")"
  sleep 2
  snap no-captions
  ! caption_shown || fail "the caption stayed over the live picture (see no-captions.png)"

  # "압축" (the fourth format) with the keyboard, then a 3-second capture from the panel.
  panel_to_front
  open_sheet_tab 418
  xdotool key Tab Down Down Down Return
  sleep 1
  grep -q '^RecordFormat=compact' "$ORVANE_CONFIG_DIR/win.ini" || fail "compact not stored: $(cat "$ORVANE_CONFIG_DIR/win.ini")"
  panel_to_front
  EXPECT_REPLACE= capture_timed 3
  answer "동영상 캡처완료" 100
  local mkv="$HOME/Capture.mkv" text
  [ -s "$mkv" ] || fail "no $mkv"
  text=$(ffmpeg -nostdin -v error -f lavfi -i "movie=$mkv[out+subcc]" -map 0:s -f srt - | grep -c 'Captions from the virtual card')
  [ "$text" -ge 1 ] || fail "ffmpeg reads no captions from the H.264 of $mkv"
  ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$mkv" | grep -q '^subrip$' || fail "no subtitle track in $mkv"
  [ "$(head -1 "$mkv.scc")" = "Scenarist_SCC V1.0" ] || fail "no SCC beside $mkv"
  echo "captions: ok ($text captions read back from the H.264)"
  xdotool windowfocus --sync "$PANEL" 2>/dev/null || true
  xdotool key alt+KP_Add
  expect_exit "Alt with keypad +"

  # A PAL card whose line 23 says 16:9 (anamorphic) for 2 seconds, then 4:3, and whose teletext
  # page 888 carries subtitles: 3 seconds in "lossless" make a Matroska file shown at 16:9, whose log
  # tells both, with the subtitles beside it and in its track.
  export ORVANE_VIRTUAL_CARD='{"aspect": "16:9", "aspect_until_s": 2, "teletext_page": 888, "captions": ["Teletext subtitles"]}'
  printf '[orvane]\nRecordFormat=lossless\nStandard=PAL-BG\n' >"$ORVANE_CONFIG_DIR/win.ini"
  start_and_wait wss
  sleep 1
  open_lid
  EXPECT_REPLACE=$mkv capture_timed 3
  answer "동영상 캡처완료" 100
  local shape told
  shape=$(ffprobe -v error -select_streams v -show_entries stream=height,display_aspect_ratio -of csv=p=0 "$mkv")
  [ "$shape" = "576,16:9" ] || fail "the PAL file with a 16:9 signal is $shape (height, display aspect)"
  told=$(grep '"event":"wss"' "$mkv.log.jsonl" | grep -o '"aspect":"[^"]*"' | tr -d '\n')
  [ "$told" = '"aspect":"16:9""aspect":"4:3"' ] || fail "the log tells the signal as $told: $(grep wss "$mkv.log.jsonl")"
  grep -q '^Teletext subtitles$' "$mkv.srt" || fail "no teletext subtitle in $mkv.srt: $(cat "$mkv.srt")"
  ffmpeg -nostdin -v error -i "$mkv" -map 0:s -f srt - | grep -q '^Teletext subtitles$' || fail "no teletext subtitle in the track of $mkv"
  echo "teletext: ok ($(grep -c '^Teletext subtitles$' "$mkv.srt") subtitles in the SRT)"
  echo "wide-screen signal: ok ($shape; log: $(grep '"event":"wss"' "$mkv.log.jsonl" | tr '\n' ' '))"
  xdotool windowfocus --sync "$PANEL" 2>/dev/null || true
  xdotool key alt+KP_Add
  expect_exit "Alt with keypad +"
}
e2e_main "$@"
