#!/usr/bin/env bash
# Counts the system calls of `corvalin gather` over 1,000 pictures (50 child folders of 20, with a
# file that is not a picture in each, the folders removed afterwards, journal and Trash on), and
# prints them per picture. Usage: bench/syscall_count.sh PATH/TO/corvalin [WORK-FOLDER]
set -euo pipefail
program=$(realpath "$1")
work=${2:-/var/tmp}/corvalin-syscalls-$$
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/home" "$work/source" "$work/dest"
# A copy of its own, so that its settings, counter and journals stay in the work folder.
cp "$program" "$work/program/corvalin"
for folder in $(seq -w 1 50); do
    mkdir "$work/source/dl$folder"
    for picture in $(seq -w 1 20); do
        head -c 2048 /dev/urandom > "$work/source/dl$folder/photo$picture.jpg"
    done
    echo note > "$work/source/dl$folder/readme.txt"
done
HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" QT_QPA_PLATFORM=offscreen \
    strace -c -f -o "$work/strace.txt" "$work/program/corvalin" gather --delete-folders \
    "$work/source" "$work/dest" > /dev/null
moved=$(find "$work/dest" -maxdepth 1 -type f | wc -l)
total=$(awk '$NF == "total" {print $4}' "$work/strace.txt")
echo "pictures moved: $moved"
echo "system calls: $total ($(awk -v t="$total" -v m="$moved" 'BEGIN {printf "%.1f", t / m}') per picture)"
# The calls that make up most of it.
sort -k4 -n -r "$work/strace.txt" | awk 'NF >= 5 && $NF != "total" && $NF != "syscall" {printf "  %-16s %8d  %.2f per picture\n", $NF, $4, $4 / '"$moved"'}' | head -16
