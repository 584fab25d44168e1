# Sourced by syscalls.sh, callcount.sh and rerun.sh: the pair of trees with
# a real game's mix that they all count on, made once in a work folder and
# reused while the generator's parameters stay the same.
#
#   real_mix_trees GENTREES WORK FILES FOLDER_FILES   # prints the trees' folder
real_mix_trees() {
    local gentrees=$1 work=$2 files=$3 folder_files=$4
    local trees="$work/trees-real-mix-$files"
    local shape=(--files "$files" --mix 350,116 --folder-files "$folder_files")
    [[ $folder_files == 14 ]] || trees+="-folder-files-$folder_files"
    local want
    want=$("$gentrees" "${shape[@]}" --print-params)
    if [[ ! -f $trees/params.txt || $(cat "$trees/params.txt") != "$want" ]]; then
        rm -rf "$trees"
        mkdir -p "$trees"
        "$gentrees" "${shape[@]}" "$trees" >&2
        sync
    fi
    echo "$trees"
}
