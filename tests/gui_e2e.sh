#!/usr/bin/env bash
# The window program end to end, driven from outside as a user would:
# F1's help box, three folders chosen through the real folder browser by
# keyboard, Create MOD extracting a generated pair of trees, the box for
# equal folders, and the close button ending the process with 0.
#
#   gui_e2e.sh BUILD_DIR   (needs a display: run it under cmake/with-xvfb.sh)
#
# Uses a Wine prefix of its own, in a temporary folder that it removes, and
# leaves the screenshots in BUILD_DIR/e2e.
set -euo pipefail

build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
program=$build/ModExtractor.exe
probe_exe=$build/tests/windowprobe.exe
run=$source_dir/cmake/wine-run.sh
shots=$build/e2e
TITLE="KESSARANDOLIN MOD EXTRACTOR"
BROWSER="Browse for Folder"

work=$(mktemp -d)
state=$work/wine
app=
cleanup() {
    if [ -n "$app" ]; then kill "$app" 2>/dev/null || true; fi
    "$run" "$state" --shutdown
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "gui_e2e: $*" >&2
    import -window root "$shots/failure.png" 2>/dev/null || true
    exit 1
}
probe() { "$run" "$state" "$probe_exe" "$@"; }

# The trees: new, changed (one byte deep in the second chunk), unchanged,
# nested and empty files; the mod must hold exactly the new and changed ones.
tree=$work/tree
mkdir -p "$tree/orig/Meshes/rocks" "$tree/mod/Meshes/rocks" "$tree/mod/Textures/new" "$tree/dest"
head -c 3000000 /dev/urandom >"$tree/orig/Meshes/rocks/big.nif"
cp "$tree/orig/Meshes/rocks/big.nif" "$tree/mod/Meshes/rocks/big.nif"
printf '\x5a' | dd of="$tree/mod/Meshes/rocks/big.nif" bs=1 seek=2000000 conv=notrunc status=none
cmp -s "$tree/orig/Meshes/rocks/big.nif" "$tree/mod/Meshes/rocks/big.nif" && printf '\x5b' |
    dd of="$tree/mod/Meshes/rocks/big.nif" bs=1 seek=2000000 conv=notrunc status=none
echo same >"$tree/orig/same.txt"
echo same >"$tree/mod/same.txt"
echo "new texture" >"$tree/mod/Textures/new/wall.dds"
# A mod the player takes out again after the first job.
sword_mod=(Scripts/main.lua Meshes/weapons/sword.nif Textures/sword.dds)
for file in "${sword_mod[@]}"; do mkdir -p "$(dirname "$tree/mod/$file")"; echo sword >"$tree/mod/$file"; done
: >"$tree/mod/Textures/empty.dds"
# Names that no code page holds, and a best-fit pair side by side: the
# window reads and copies them by their own names.
mkdir -p "$tree/mod/Textures/Кириллица"
echo "new" >"$tree/mod/Textures/Кириллица/日本語😀.dds"
for side in orig mod; do echo same >"$tree/$side/Lódz.esp"; echo before >"$tree/$side/Łódź.esp"; done
echo after >"$tree/mod/Łódź.esp"
expected=$(printf '%s\n' Meshes/rocks/big.nif Textures/empty.dds Textures/new/wall.dds \
    "Textures/Кириллица/日本語😀.dds" "Łódź.esp" "${sword_mod[@]}" | sort)

# The prefix, with drive T: on the trees, linked before its services start
# so that the folder browser lists it.
probe gone "no such window" 0 || true
ln -s "$tree" "$state/prefix/dosdevices/t:"
"$run" "$state" --shutdown
mkdir -p "$shots"
rm -f "$shots"/*.png

# A picture of the window as a user sees it. Wine draws the OpenGL child
# off screen, into a window of the child's size kept at (-1, -1), so a
# screenshot of the root shows the class background there: the grab of that
# window (less its top row and left column) goes over it, and the controls
# from the screenshot over that.
picture() {  # OUTPUT.png
    local listing client_x client_y surface size id
    listing=$(probe list "$TITLE")
    client_x=$(sed -n 's/^client x=\([0-9]*\) y=.*/\1/p' <<<"$listing")
    client_y=$(sed -n 's/^client x=[0-9]* y=\([0-9]*\)$/\1/p' <<<"$listing")
    surface=$(grep -a 'class=Ogl32' <<<"$listing")
    size="$(sed 's/.* w=\([0-9]*\) h=\([0-9]*\) .*/\1x\2/' <<<"$surface")"
    import -window root "$work/root.png"
    id=$(xwininfo -root -tree | awk -v size="$size+0+0" 'index($0, "()  " size) { print $1; exit }')
    [ -n "$id" ] || fail "no off-screen window of the surface's size $size"
    import -window "$id" "$work/surface.png"
    local layers=("$work/root.png" "$work/surface.png" -geometry "+$((client_x + 1))+$((client_y + 1))" -composite)
    while read -r line; do
        local x y w h
        read -r x y w h < <(LC_ALL=C sed 's/.* x=\([0-9-]*\) y=\([0-9-]*\) w=\([0-9]*\) h=\([0-9]*\) .*/\1 \2 \3 \4/' <<<"$line")
        x=$((x + client_x)) y=$((y + client_y))
        layers+=("(" "$work/root.png" -crop "${w}x${h}+$x+$y" +repage ")" -geometry "+$x+$y" -composite)
    done < <(grep -a '^control ' <<<"$listing" | grep -av 'class=Ogl32' | grep -a 'visible=1')
    convert "${layers[@]}" -crop 500x500+0+0 +repage "$1"
}

"$run" "$state" "$program" >"$work/program.log" 2>&1 &
app=$!
probe wait "$TITLE" 60000 || fail "the window did not appear"
sleep 2
picture "$shots/window.png"

# A box over the window's picture (BOX: the probe's listing of it): in the
# root screenshot, closed dialogs linger where the surface is drawn off screen.
box_picture() {  # BOX OUTPUT.png
    local bx by bw bh
    picture "$work/window.png"
    read -r bx by bw bh < <(sed -n 's/^window .* x=\([0-9-]*\) y=\([0-9-]*\) w=\([0-9]*\) h=\([0-9]*\)$/\1 \2 \3 \4/p' <<<"$1")
    convert -size 900x700 xc:black "$work/window.png" -geometry +0+0 -composite \
        \( "$work/root.png" -crop "${bw}x${bh}+$bx+$by" +repage \) -geometry "+$bx+$by" -composite "$2"
}

focus() {
    local id
    id=$(xdotool search --sync --name "^$1\$" | head -n1)
    xdotool windowfocus --sync "$id"
}

# F1 on the window: the help box with the whole text.
focus "$TITLE"
xdotool key F1
probe wait "---HELP---" 10000 || fail "F1 showed no help box"
help=$(probe list "---HELP---")
grep -qF 'text=----------------------------------------------------------------\n                 KESSARANDOLIN MOD EXTRACTOR                    \n' <<<"$help" ||
    fail "help text: $help"
grep -qaF "$(printf 'ce programme d\xe9tecte')" <<<"$help" || fail "help text lost its accents"
grep -qF '5) mod is created in the target directory\n----------------------------------------------------------------\n' <<<"$help" ||
    fail "help text ends wrong"
probe click "---HELP---" OK
probe gone "---HELP---" 5000 || fail "the help box stayed"

# The browser's tree by keyboard: Down until the folder box names the
# wanted item, then Right to open it or Return to choose it.
browser_folder() {
    probe list "$BROWSER" | sed -n 's/^control class=Edit .* text=//p'
}
walk() {
    local name=$1 key=$2 current previous
    current=$(browser_folder)
    for _ in $(seq 40); do
        [ "$current" = "$name" ] && break
        previous=$current
        xdotool key Down
        # The folder box follows the tree's selection a moment later.
        for _ in $(seq 20); do
            current=$(browser_folder)
            [ "$current" != "$previous" ] && break
            sleep 0.1
        done
    done
    [ "$current" = "$name" ] || fail "the folder browser never reached \"$name\""
    xdotool key "$key"
}
choose() {  # BROWSE button number, folder name under T:
    probe click "$TITLE" BROWSE "$1"
    probe wait "$BROWSER" 10000 || fail "BROWSE $1 opened no folder browser"
    focus "$BROWSER"
    # The tree is filled, and Desktop selected, before keys count.
    for _ in $(seq 50); do [ "$(browser_folder)" = "Desktop" ] && break; sleep 0.1; done
    walk "My Computer" Right
    walk " (T:)" Right
    walk "$2" Return
    probe gone "$BROWSER" 5000 || fail "the folder browser stayed open"
}
control() {  # the line of the control with this text
    probe list "$TITLE" | grep -F "text=$1" | head -n1
}

choose 1 orig
choose 2 mod
grep -q "enabled=0" <<<"$(control "Create MOD")" || fail "Create MOD enabled before the third folder"
choose 3 dest
[ -n "$(control 'T:\\orig')" ] || fail "the original field does not show T:\\orig"
[ -n "$(control 'T:\\dest')" ] || fail "the destination field does not show T:\\dest"
grep -q "enabled=1" <<<"$(control "Create MOD")" || fail "Create MOD not enabled with three folders"
picture "$shots/window-ready.png"

# Create MOD: the mod appears, byte for byte, and the window is ready again.
probe click "$TITLE" "Create MOD"
for _ in $(seq 120); do
    if [ -d "$tree/dest/Data" ] && grep -q "enabled=1" <<<"$(control "Create MOD")" &&
        [ "$(probe progress "$TITLE")" = "0 8" ]; then
        break
    fi
    sleep 0.5
done
got=$(cd "$tree/dest/Data" 2>/dev/null && find . -type f | sed 's|^\./||' | sort)
[ "$got" = "$expected" ] || fail "the mod holds \"$got\", expected \"$expected\""
while IFS= read -r file; do
    cmp "$tree/mod/$file" "$tree/dest/Data/$file" || fail "$file differs from the modded one"
done <<<"$expected"
! probe wait "erreur/error" 500 || fail "a job without failures showed a box"
! probe wait "attention/notice" 500 || fail "a job into an empty destination showed a box"
# Instead, the window says what the mod holds and where, until the next command.
# (The job's end reaches the window just after its last report.)
for _ in $(seq 20); do
    word=$(probe list "$TITLE" | grep -a '^control class=Static' | grep -a 'visible=1' || true)
    [ -n "$word" ] && break
    sleep 0.25
done
grep -qaF 'extraction done: 6 new, 2 changed, 0 already in place\nT:\\dest\\Data' <<<"$word" ||
    fail "no word at the job's end: $word"
picture "$shots/job-done.png"

# The player takes the sword mod out of the game and extracts again into
# the same folder: its three files stay in the mod folder, and one box
# names them. Nothing is deleted.
for file in "${sword_mod[@]}"; do rm "$tree/mod/$file"; done
probe click "$TITLE" "Create MOD"
probe wait "attention/notice" 60000 || fail "stale files of an earlier job gave no box"
box=$(probe list "attention/notice")
for name in "3 file(s) in the Data folder did not come from this job" 'Scripts\\main.lua' \
    'Meshes\\weapons\\sword.nif' 'Textures\\sword.dds' "extract into an empty folder, or remove them by hand"; do
    grep -qF "$name" <<<"$box" || fail "the stale files' box lacks \"$name\": $box"
done
grep -qF "extraction done: 3 new, 2 changed, 5 already in place" <<<"$box" || fail "the box lacks the counts: $box"
read -r box_y box_h < <(sed -n 's/^window .* y=\([0-9-]*\) w=[0-9]* h=\([0-9]*\)$/\1 \2/p' <<<"$box")
[ "$box_y" -ge 0 ] && [ $((box_y + box_h)) -le 768 ] || fail "the box leaves the screen: y=$box_y h=$box_h"
box_picture "$box" "$shots/stale-files.png"
probe click "attention/notice" OK
probe gone "attention/notice" 5000 || fail "the stale files' box stayed"
for file in "${sword_mod[@]}"; do [ -f "$tree/dest/Data/$file" ] || fail "$file was deleted"; done

# Three equal folders: the warning, and nothing starts.
choose 2 orig
choose 3 orig
probe click "$TITLE" "Create MOD"
probe wait "erreur/error" 10000 || fail "equal folders gave no warning"
box=$(probe list "erreur/error")
grep -qaF "text=$(printf 's\xe9lectionnez des repertoires diff\xe9rents\\nselect different folders')" <<<"$box" ||
    fail "warning text: $box"
grep -q "icon=1" <<<"$box" || fail "the warning box has no icon"
box_picture "$box" "$shots/equal-folders.png"
probe click "erreur/error" OK
probe gone "erreur/error" 5000 || fail "the warning stayed"
[ ! -e "$tree/orig/Data" ] || fail "a job ran on equal folders"

# The close button's message: the process ends with 0.
probe close "$TITLE"
status=0
wait "$app" || status=$?
app=
[ "$status" -eq 0 ] || fail "the program ended with $status"
echo "gui_e2e: passed"
