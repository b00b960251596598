#!/usr/bin/env bash
# Installs the npm packages of the page (jQuery, jquery-json) and of its browser tests
# (playwright-core, ESLint) into a cache outside the source tree, keyed by the lock file.
# A second run finds the cache complete and returns at once.
#
#   scripts/page-deps.sh               install if needed, print the node_modules path
#   scripts/page-deps.sh --copy-libs D also copy jquery.min.js and jquery.json.js into D
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
pkg_dir=$here/tests/page
DEPS=${VELMORA_DEPS:-/opt/velmora-deps}

copy_to=
while [ $# -gt 0 ]; do
    case $1 in
    --copy-libs)
        [ $# -ge 2 ] || { echo "page-deps: --copy-libs needs a directory" >&2; exit 2; }
        copy_to=$2
        shift 2
        ;;
    --print-dir) shift ;;
    *) echo "page-deps: unknown argument $1" >&2; exit 2 ;;
    esac
done

hash=$(cat "$pkg_dir/package.json" "$pkg_dir/package-lock.json" | sha256sum | cut -c1-16)
cache=$DEPS/npm-page-$hash

if [ ! -f "$cache/.complete" ]; then
    command -v npm >/dev/null || { echo "page-deps: npm is not installed" >&2; exit 1; }
    mkdir -p "$DEPS"
    tmp=$(mktemp -d "$DEPS/.npm-page-XXXXXX")
    trap 'rm -rf "$tmp"' EXIT
    cp "$pkg_dir/package.json" "$pkg_dir/package-lock.json" "$tmp/"
    echo "page-deps: installing npm packages into $cache" >&2
    # No browser download: the tests drive the system's chromium.
    (cd "$tmp" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error >&2)
    touch "$tmp/.complete"
    rm -rf "$cache"
    mv "$tmp" "$cache"
    trap - EXIT
fi

if [ -n "$copy_to" ]; then
    mkdir -p "$copy_to"
    cp "$cache/node_modules/jquery/dist/jquery.min.js" "$copy_to/jquery.min.js"
    cp "$cache/node_modules/jquery-json/dist/jquery.json.min.js" "$copy_to/jquery.json.js"
fi

echo "$cache/node_modules"
