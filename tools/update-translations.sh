#!/bin/sh
# Brings the window's English translation up to date with its texts: new
# texts are added unfinished, texts gone from the sources are dropped.
# Translate the new entries (Qt Linguist, or by hand in the file), then build;
# the translation test fails while any entry is unfinished.
#   tools/update-translations.sh [file.ts]   (ui/translations/velkaro_en.ts)
set -e
ts=$(realpath "${1:-$(dirname "$0")/../ui/translations/velkaro_en.ts}")
cd "$(dirname "$0")/.."
# Every folder with texts of the window, its dialogs and its pages.
FOLDERS="app ui log chart"
# No source locations: line numbers would change the file on every edit.
lupdate -silent -locations none -no-obsolete -source-language ru -target-language en \
    $FOLDERS -ts "$ts"
echo "unfinished entries in $ts: $(grep -c 'type="unfinished"' "$ts" || true)"
