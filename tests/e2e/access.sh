#!/usr/bin/env bash
# The lossless master with its compact access copy, as a user records them: "무손실 원본과 압축 사본"
# chosen on the recording page, a 10-second capture from the panel; then both files read back (the
# master FFV1 with every picture captured, the copy H.264, both decoding cleanly), the capture log's
# last line with the copy's count, and the result box, which gives both counts.
source "$(dirname "$0")/lib.bash"

panel_to_front() {
  xdotool mousemove --sync $((VX + 300)) $((VY + 6)) click 3
  sleep 0.5
}
click_dlu() {  # x y in the capture dialog's units (216x138)
  read -r _ dx dy dw dh <<<"$DLG"
  xdotool mousemove --sync $((dx + $1 * dw / 216)) $((dy + $2 * dh / 138)) click 1
  sleep 0.3
}

run() {
  start_and_wait
  sleep 1
  open_lid
  # The fifth format on the recording page: four down from the original recording.
  open_sheet_tab 418
  xdotool key Tab Down Down Down Down Return
  sleep 1
  grep -q '^RecordFormat=lossless+compact$' "$ORVANE_CONFIG_DIR/win.ini" ||
    fail "lossless+compact not stored: $(cat "$ORVANE_CONFIG_DIR/win.ini")"
  panel_to_front

  # Ten seconds, limited in the capture dialog.
  xdotool mousemove --sync $((PX + 358)) $((PY + 133)) click 1
  DLG=$(wait_window "캡처설정") || fail "the capture button did not open the capture settings dialog"
  click_dlu 14 97
  click_dlu 40 69
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 50 10
  sleep 0.2
  click_dlu 126 121
  wait_window "동영상 캡처완료" 300 >/dev/null || fail "no result box after the capture"
  sleep 0.5
  snap result
  answer "동영상 캡처완료"
  panel_to_front

  local mkv="$HOME/Capture.mkv" copy="$HOME/Capture.access.mkv" log="$HOME/Capture.mkv.log.jsonl" errors
  [ -s "$mkv" ] && [ -s "$copy" ] || fail "no $mkv and $copy: $(ls -l "$HOME")"
  [ "$(ffprobe -v error -select_streams v -show_entries stream=codec_name -of csv=p=0 "$mkv")" = ffv1 ] || fail "the master is no FFV1"
  [ "$(ffprobe -v error -select_streams v -show_entries stream=codec_name -of csv=p=0 "$copy")" = h264 ] || fail "the copy is no H.264"
  [ "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$copy")" = aac ] || fail "the copy's sound is no AAC"
  for f in "$mkv" "$copy"; do
    errors=$(ffmpeg -nostdin -v error -i "$f" -f null - 2>&1) && [ -z "$errors" ] || fail "decoding $f failed: $errors"
  done
  local end master frames captured inserted dropped
  end=$(tail -1 "$log")
  captured=$(jq -r .captured <<<"$end") inserted=$(jq -r .inserted <<<"$end") dropped=$(jq -r .access_copy.dropped <<<"$end")
  [ "$(jq -r .access_copy.file <<<"$end")" = "$copy" ] || fail "the log's last line names no access copy: $end"
  master=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$mkv")
  frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$copy")
  [ "$master" -eq $((captured + inserted)) ] || fail "the master holds $master pictures for $captured captured and $inserted inserted"
  [ "$captured" -ge 140 ] || fail "$captured pictures captured in 10 s"
  [ "$((master - frames))" -le 1 ] && [ "$((frames - master))" -le 1 ] || fail "the copy has $frames places, the master $master"
  cmp -s <(grep -v '^#' "$mkv.framemd5") <(ffmpeg -nostdin -v error -i "$mkv" -map 0 -sn -f framemd5 - | grep -v '^#') ||
    fail "the master's per-frame checksums are not those ffmpeg reads back"

  xdotool windowfocus --sync "$PANEL" 2>/dev/null || true
  xdotool key alt+KP_Add
  expect_exit "Alt with keypad +"
  echo "access: ok (master $master pictures, $captured captured, $inserted inserted; copy $frames, $dropped left out)"
}
e2e_main "$@"
