#!/usr/bin/env bash
# Plants one include at a time into a small tree of its own, as a new file not yet added to git, and runs
# scripts/check-layers over that tree: a fault must be named, a sound include must pass.
# Usage: check-layers-catches.sh SOURCE_ROOT
set -euo pipefail
source_root=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scripts"
cp "$source_root/scripts/check-layers" "$tree/scripts/"
git -C "$tree" init -q
for folder in codec settings platform intake feedback update shell shell/window update/window app; do
    mkdir -p "$tree/$folder"
    echo '#pragma once' >"$tree/$folder/Own.h"
done
git -C "$tree" add scripts codec # the rest stays untracked, as a file just written

failures=0
# file, its include line, and whether the check must pass
while IFS='|' read -r file include verdict; do
    [ -n "$file" ] || continue
    printf '%s\n' "$include" >"$tree/$file"
    if output=$("$tree/scripts/check-layers" 2>&1); then outcome=pass; else outcome=fault; fi
    if [ "$outcome" != "$verdict" ]; then
        echo "FAIL: $file with '$include': expected $verdict, got $outcome" >&2
        echo "$output" >&2
        failures=$((failures + 1))
    fi
    rm -f "$tree/$file"
done <<'CASES'
codec/Sound.cpp|#include "codec/Own.h"|pass
shell/Sound.cpp|#include "platform/Own.h"|pass
shell/Angle.cpp|#include <platform/Own.h>|pass
codec/Qt.cpp|#include <QtCore/QString>|pass
app/Window.cpp|#include "shell/window/Own.h"|pass
app/Box.cpp|#include <QMessageBox>|pass
shell/window/Box.cpp|#include <QMessageBox>|pass
codec/Up.cpp|#include "shell/Own.h"|fault
codec/UpAngle.cpp|#include <shell/Own.h>|fault
shell/Program.cpp|#include "app/Own.h"|fault
shell/ProgramAngle.cpp|#include <app/Own.h>|fault
update/window/Side.cpp|#include "shell/window/Own.h"|fault
intake/Side.h|#include "feedback/Own.h"|fault
platform/Nowhere.cpp|#include "tests/Own.h"|fault
shell/Widget.cpp|#include <QWidget>|fault
intake/Sql.cpp|#include <QSqlQuery>|fault
CASES

if [ "$failures" -gt 0 ]; then
    echo "check-layers-catches: $failures case(s) failed" >&2
    exit 1
fi
echo "check-layers-catches: every planted fault named, every sound include passed"
