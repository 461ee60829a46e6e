#!/usr/bin/env bash
# The include graph runs one way: platform, core, subsystems (telephony,
# then audio and the data link, then prompts), front. A file may include its
# own layer or lower ones, never a higher one; subsystems of one rank never
# include each other. Also: no source file outside the tests is over 600
# lines. Prints every violation; exits non-zero when there is one.
set -u
cd "$(dirname "$0")/../.."

core_files="control/core.h control/control_site.h control/sound_buffer.h control/event_log.h control/event_log.cpp
control/text_to_speech.h control/text_to_speech.cpp control/variant.h control/variant.cpp control/automation_error.h
control/event_sink.h"

rank_of() {  # rank of a path: platform 0, core 1, telephony 2, audio/datalink 3, prompts 4, front 5
    case "$1" in
        platform/*) echo 0 ;;
        telephony/*) echo 2 ;;
        audio/*|datalink/*) echo 3 ;;
        prompts/*) echo 4 ;;
        control/*)
            for c in $core_files; do [ "$1" = "$c" ] && { echo 1; return; }; done
            echo 5 ;;
        *) echo 6 ;;
    esac
}

bad=0
for f in $(git ls-files 'platform/*' 'control/*' 'telephony/*' 'audio/*' 'prompts/*' 'datalink/*' | grep -E '\.(h|cpp)$'); do
    r=$(rank_of "$f")
    dir=${f%%/*}
    while read -r inc; do
        [ -n "$inc" ] || continue
        case "$inc" in platform/*|control/*|telephony/*|audio/*|prompts/*|datalink/*) ;; *) continue ;; esac
        ir=$(rank_of "$inc")
        idir=${inc%%/*}
        if [ "$ir" -gt "$r" ] || { [ "$ir" -eq "$r" ] && [ "$r" -ge 2 ] && [ "$r" -le 4 ] && [ "$idir" != "$dir" ]; }; then
            echo "layering: $f (rank $r) includes $inc (rank $ir)"
            bad=1
        fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$f")
done

for f in $(git ls-files | grep -E '\.(c|cc|cpp|h|hpp)$' | grep -v -E '(^|/)tests?/'); do
    n=$(wc -l < "$f")
    if [ "$n" -gt 600 ]; then
        echo "size: $f has $n lines"
        bad=1
    fi
done

[ $bad -eq 0 ] && echo "layers and sizes ok"
exit $bad
