#!/usr/bin/env bash
# Makes the sound files wav_corpus.txt lists, in OUT_DIR.
# Usage: make_wav_corpus.sh CORPUS_TABLE OUT_DIR
set -euo pipefail
table=$(realpath "$1")
out=$2
sounds=${MARLUNE_ALSA_SOUNDS:-/usr/share/sounds/alsa}
mkdir -p "$out"
cd "$out"

le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }

# The data chunk of a plain 16-bit stereo file (44-byte header) under a
# 40-byte extensible record: PCM sub-format, front left and right.
extensible() {
    local from=$1 to=$2
    local rate size
    rate=$(od -An -tu4 -j24 -N4 "$from" | tr -d ' ')
    size=$(od -An -tu4 -j40 -N4 "$from" | tr -d ' ')
    [ "$(od -An -tu2 -j20 -N4 "$from" | tr -s ' ')" = " 1 2" ] || { echo "$from: not plain stereo PCM" >&2; return 1; }
    {
        printf RIFF; le32 $((4 + 8 + 40 + 8 + size)); printf 'WAVEfmt '; le32 40
        le16 65534; le16 2; le32 "$rate"; le32 $((rate * 4)); le16 4; le16 16
        le16 22; le16 16; le32 3
        printf '\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71'
        tail -c +37 "$from"
    } > "$to"
}

while IFS='|' read -r file recipe _; do
    read -r file <<< "$file"
    [ -z "$file" ] || [ "${file:0:1}" = "#" ] && continue
    read -r -a words <<< "$recipe"
    case ${words[0]} in
        copy) cp "$sounds/${words[1]}" "$file" ;;
        sox)
            args=()
            for w in "${words[@]:1}"; do
                [[ $w == *.wav && -f $sounds/$w ]] && w=$sounds/$w
                args+=("$w")
            done
            sox "${args[@]}" "$file" ;;
        extensible) extensible "${words[1]}" "$file" ;;
        cut) head -c "${words[1]}" "${words[2]}" > "$file" ;;
        *) echo "$file: unknown recipe: $recipe" >&2; exit 1 ;;
    esac
done < "$table"
