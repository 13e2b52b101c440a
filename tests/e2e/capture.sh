#!/usr/bin/env bash
# Captures as a user makes them: Enter in the capture dialog starts one and Enter in its status
# dialog ends it; then a 5-second limit onto the same file, which is asked about, and the file read
# back; then "lossless" chosen on the recording page and 5 seconds more, which come as FFV1 in
# Matroska with their log, checksums and tags; last a 60-second capture ended early from the capture
# button, whose checksum the exit waits for.
source "$(dirname "$0")/lib.bash"

# Beside $mkv: its capture log, every line JSON and the last with this reason; per-frame checksums
# with the lines ffmpeg reads back from the file (its picture and sound); the file's checksum, within
# 10 s; the virtual card's captions in SCC and SRT, and as the file's subtitle track.
side_files() {  # reason
  local log="$mkv.log.jsonl"
  [ -s "$log" ] || fail "no capture log beside $mkv"
  [ "$(jq -c . "$log" | wc -l)" = "$(wc -l <"$log")" ] || fail "a line of the capture log is no JSON: $(cat "$log")"
  [ "$(tail -1 "$log" | jq -r .reason)" = "$1" ] || fail "the log does not end with $1: $(tail -1 "$log")"
  cmp -s <(grep -v '^#' "$mkv.framemd5") <(ffmpeg -nostdin -v error -i "$mkv" -map 0 -sn -f framemd5 - | grep -v '^#') ||
    fail "the per-frame checksums are not those ffmpeg reads back"
  for _ in $(seq 100); do [ -e "$mkv.md5" ] && break; sleep 0.1; done
  (cd "$(dirname "$mkv")" && md5sum -c --quiet "$(basename "$mkv").md5") || fail "md5sum -c failed on $mkv.md5"
  [ "$(head -1 "$mkv.scc")" = "Scenarist_SCC V1.0" ] || fail "no SCC beside $mkv: $(head -3 "$mkv.scc")"
  grep -q '^Captions from the virtual card$' "$mkv.srt" || fail "the SRT lacks the card's caption: $(head "$mkv.srt")"
  ffmpeg -nostdin -v error -i "$mkv" -map 0:s -f srt - | grep -q '^Captions from the virtual card$' ||
    fail "the file's subtitle track lacks the card's caption"
}

run() {
  start_and_wait
  sleep 1
  open_lid
  open_dialog

  # Enter at once starts a capture without a limit; Enter in its status dialog ends it.
  xdotool windowfocus --sync "${DLG%% *}" 2>/dev/null || true
  xdotool key Return
  wait_window "캡처상황" >/dev/null || fail "Enter in the capture settings dialog did not start a capture"
  ! shown "캡처설정" || fail "the capture settings dialog stayed open"
  sleep 1.5
  answer "캡처상황"
  answer "동영상 캡처완료"
  panel_to_front
  EXPECT_REPLACE=Capture.avi capture_timed 5

  answer "동영상 캡처완료" 100
  sleep 1
  ! shown "동영상 캡처완료" || fail "a result box is open after the first one was answered"
  panel_to_front

  # The file in the home folder: YUY2 at 14.99 frames per second with PCM sound, five seconds.
  local avi="$HOME/Capture.avi" probe="$OUT/ffprobe.txt"
  [ -s "$avi" ] || fail "no $avi"
  ffprobe -v error -count_packets -show_streams -of default=nw=1 "$avi" >"$probe" || fail "ffprobe cannot read the file"
  grep -q '^codec_tag_string=YUY2$' "$probe" || fail "no YUY2 picture: $(cat "$probe")"
  grep -q '^avg_frame_rate=10000000/667111$' "$probe" || fail "not 14.99 frames per second"
  grep -q '^codec_name=pcm_s16le$' "$probe" || fail "no PCM sound"
  local frames errors
  frames=$(grep '^nb_frames=' "$probe" | head -1 | cut -d= -f2)  # 75, a frame or two either way
  [ "$frames" -ge 73 ] && [ "$frames" -le 77 ] || fail "$frames frames for a 5-second capture"
  errors=$(ffmpeg -nostdin -v error -i "$avi" -f null - 2>&1) && [ -z "$errors" ] || fail "decoding failed: $errors"

  # "무손실" on the recording page (fifth tab), with the keyboard: Tab from the tabs into the format
  # list, two down from the original recording, Enter. Then five seconds more from the panel.
  open_sheet_tab 418
  xdotool key Tab Down Down Return
  sleep 1
  ! shown "환경설정" || fail "Enter did not close the settings sheet"
  grep -q '^RecordFormat=lossless' "$ORVANE_CONFIG_DIR/win.ini" || fail "lossless not stored: $(cat "$ORVANE_CONFIG_DIR/win.ini")"
  panel_to_front
  EXPECT_REPLACE= capture_timed 5
  answer "동영상 캡처완료" 100
  panel_to_front
  local mkv="$HOME/Capture.mkv"
  [ -s "$mkv" ] || fail "no $mkv"
  ffprobe -v error -show_streams -show_format -of default=nw=1 "$mkv" >"$probe" || fail "ffprobe cannot read $mkv"
  grep -q '^format_name=matroska,webm$' "$probe" || fail "not Matroska: $(cat "$probe")"
  grep -q '^codec_name=ffv1$' "$probe" || fail "no FFV1 picture"
  grep -q '^width=720$' "$probe" && grep -Eq '^height=(480|576)$' "$probe" || fail "not the standard's frame"
  errors=$(ffmpeg -nostdin -v error -i "$mkv" -f null - 2>&1) && [ -z "$errors" ] || fail "decoding $mkv failed: $errors"
  side_files time_limit
  grep -q '^TAG:DATE_DIGITIZED=20' "$probe" && grep -q '^TAG:ENCODER=OrvaneTuner ' "$probe" || fail "no tags: $(cat "$probe")"

  # A 60-second capture ended early: the capture button asks, Enter (Yes) ends it within a second,
  # with one result box and a whole file.
  EXPECT_REPLACE=Capture.mkv capture_timed 60
  sleep 2
  panel_to_front
  xdotool mousemove --sync $((PX + 358)) $((PY + 133)) click 1
  answer "캡처 끝내기" 20
  wait_window "동영상 캡처완료" 10 >/dev/null || fail "Yes did not end the capture within a second"
  snap ended-early
  answer "동영상 캡처완료"
  sleep 1.5
  ! shown "동영상 캡처완료" || fail "a second result box after ending the capture early"
  local duration
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$mkv")
  awk -v d="$duration" 'BEGIN { exit !(d > 1.5 && d < 10) }' || fail "the capture ended early lasts $duration s"
  errors=$(ffmpeg -nostdin -v error -i "$mkv" -f null - 2>&1) && [ -z "$errors" ] || fail "decoding the early end failed: $errors"
  panel_to_front

  xdotool windowfocus --sync "$PANEL" 2>/dev/null || true
  xdotool key alt+KP_Add
  expect_exit "Alt with keypad +"
  side_files user
  grep -q "^CaptureFile=$HOME/Capture.mkv" "$ORVANE_CONFIG_DIR/win.ini" || fail "the capture file was not saved"
  echo "capture: ok ($frames frames)"
}
e2e_main "$@"
