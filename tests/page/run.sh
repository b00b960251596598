#!/usr/bin/env bash
# Lints the page scripts (ES5, for the IE engine of the host) and runs the page's browser
# tests in headless Chromium, once per engine profile (modern, ie8, ie7). The last line is
# "N passed, N failed" over the lint (counted as one) and every profile.
#   bash tests/page/run.sh [test name filter]        PAGE_PROFILES=ie8,ie7 picks profiles
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$repo"

modules=$(bash scripts/page-deps.sh) || { echo "page dependencies could not be installed"; echo "0 passed, 1 failed"; exit 1; }

# The page as the host serves it: its own files plus the libraries from npm.
site=$repo/build/page-site
rm -rf "$site" "$repo/build/page-artifacts"
mkdir -p "$site"
cp -r src/page/index.html src/page/css src/page/js src/page/images "$site/"
bash scripts/page-deps.sh --copy-libs "$site/js" >/dev/null

lint_passed=0
lint_failed=0
echo "== eslint (ecmaVersion 5) over src/page/js and the developer host's script"
if ESLINT_USE_FLAT_CONFIG=false node "$modules/eslint/bin/eslint.js" --no-eslintrc \
    -c tests/page/eslintrc.json src/page/js src/devhost/external_shim.js; then
    echo "ok   eslint"
    lint_passed=1
else
    echo "FAIL eslint"
    lint_failed=1
fi

echo "== page tests (headless chromium)"
out=$(mktemp)
PAGE_SITE=$site NODE_PATH=$modules node tests/page/runner.js "${1:-}" </dev/null | tee "$out"
last=$(tail -n 1 "$out")
rm -f "$out"
if [[ $last =~ ^browser\ tests:\ ([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((BASH_REMATCH[1] + lint_passed))
    failed=$((BASH_REMATCH[2] + lint_failed))
else
    passed=$lint_passed
    failed=$((lint_failed + 1))
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
