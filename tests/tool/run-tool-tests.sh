#!/usr/bin/env bash
# QarnTool.exe under Wine: against the sample installation, against broken copies of it, the
# encrypted logon value read back by the connector, and unregister/register of the DLLs.
# The last line is "N passed, M failed"; the exit code is 0 only when nothing failed.
set -uo pipefail
: "${QARN_BUILD_DIR:?QARN_BUILD_DIR must name the build folder}"
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"
samples="$here/../../samples/installation"
tool="$QARN_BUILD_DIR/bin/QarnTool.exe"
work=$(mktemp -d "$QARN_BUILD_DIR/tool-tests.XXXXXX")
# Whatever happens, the prefix stays registered for the tests that follow.
trap 'qarn_wine "$tool" register >/dev/null 2>&1; rm -rf "$work"' EXIT

# Start the prefix's session first: its services would inherit (and hold) a captured output.
wineserver -p >/dev/null 2>&1 </dev/null
qarn_wine_tool cmd /c exit >/dev/null 2>&1 </dev/null

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
        echo "  exit code $rc"
        echo "  stdout: ${out//$'\n'/$'\n          '}"
        echo "  stderr: ${err//$'\n'/$'\n          '}"
    fi
}
has() { grep -qF -- "$2" <<<"$1"; }          # has TEXT PIECE
hasLine() { grep -qE -- "$2" <<<"$1"; }      # hasLine TEXT REGEX
win() { qarn_winepath "$1"; }

# run [VAR=value...] -- ARGS...: QarnTool with the given environment; sets out, err and rc.
run() {
    local env=()
    while [ "$1" != "--" ]; do env+=("$1"); shift; done
    shift
    out=$(env "${env[@]}" "$QARN_WINE64" "$tool" "$@" 2>"$work/stderr" | tr -d '\r')
    rc=${PIPESTATUS[0]}
    err=$(tr -d '\r' <"$work/stderr")
}

copy_installation() { mkdir -p "$1" && cp -r "$samples/xml" "$1/"; }  # a private copy of the sample installation

# ---- command line: usage, help, exit codes ----
run -- ; check "no command: usage on stderr, exit 2" eval '[ $rc = 2 ] && has "$err" "usage: QarnTool" && [ -z "$out" ]'
run -- frobnicate; check "unknown command: exit 2" eval '[ $rc = 2 ] && has "$err" "unknown command '"'"'frobnicate'"'"'"'
run -- --help
lists_all() { for c in encrypt-logon check-config list-transactions show-transaction register unregister; do has "$out" "  $c " || return 1; done; }
check "--help lists every command" eval '[ $rc = 0 ] && lists_all'
run -- show-transaction --help; check "command help: exit 0" eval '[ $rc = 0 ] && has "$out" "usage: QarnTool show-transaction FILE ALIAS"'
run -- show-transaction Parts.xml; check "missing argument: exit 2" eval '[ $rc = 2 ] && has "$err" "ALIAS are required" && has "$err" "usage: QarnTool show-transaction"'
run -- register --dir; check "option without value: exit 2" eval '[ $rc = 2 ] && has "$err" "--dir needs a PATH"'
run -- register --user; check "register --user: exit 2, pointing to the way without registration" \
    eval '[ $rc = 2 ] && has "$err" "there is no per-user registration" && has "$err" "without registration"'

# ---- check-config: the sample installation is clean ----
sample=$work/sample
copy_installation "$sample"
run QarnRootDir="$(win "$sample")" -- check-config
check "sample installation: no problem, exit 0" eval '[ $rc = 0 ] && has "$out" "0 problems"'
check "sample installation: every file read, properties and messages per language counted" \
    eval 'has "$out" "Summary: 4 files read, 26 properties, messages: EN 11, DE 11, 0 warnings, 0 problems"'
check "sample installation: the application read agrees" \
    eval 'has "$out" "The application reads this configuration: 27 properties (CheckoutDir included), 11 messages in EN."'

# ---- check-config: one broken file does not hide another ----
broken=$work/broken
copy_installation "$broken"
rm "$broken/xml/CadProperties.xml"
printf '<?xml version="1.0"?>\n<Parameter><FieldCollection><Field>\n' >"$broken/xml/SiteProperties.xml"
printf '<QarnResource><EN><M0001>unclosed</EN></QarnResource>\n' >"$broken/xml/QarnResources.xml"
run -- check-config "$(win "$broken")"
check "broken installation: exit 1 with three problems" eval '[ $rc = 1 ] && has "$out" "3 problems"'
check "broken installation: the missing property file is named" \
    eval 'hasLine "$out" "PROBLEM .*CadProperties.xml: the file named in PropertyFiles does not exist"'
check "broken installation: the broken property and resource files are named" \
    eval 'hasLine "$out" "PROBLEM .*SiteProperties.xml: not well-formed XML" && hasLine "$out" "PROBLEM .*QarnResources.xml: not well-formed XML"'
check "broken installation: the main file is still read" eval 'hasLine "$out" "ok .*QarnConnector.xml \\(12 properties"'
# A property file with a document type declaration is refused by the connector, and the tool does
# not parse it either.
hostile=$work/hostile
copy_installation "$hostile"
printf '<?xml version="1.0"?>\n<!-- site -->\n<!DOCTYPE Parameter [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;">]>\n<Parameter><FieldCollection><Field><Name>n</Name><Value>&b;</Value></Field></FieldCollection></Parameter>\n' >"$hostile/xml/SiteProperties.xml"
run -- check-config "$(win "$hostile")"
check "document type declaration: the property file is named and refused" \
    eval '[ $rc = 1 ] && hasLine "$out" "PROBLEM .*SiteProperties.xml: The file .*SiteProperties.xml holds a document type declaration"'
# The same files with the existence check switched off: the missing file is only a warning.
sed -i 's|<PropertyFiles>|<PropertyFiles strictFileExistCheck="FALSE">|' "$broken/xml/QarnConnector.xml"
rm "$broken/xml/SiteProperties.xml" "$broken/xml/QarnResources.xml"
run -- check-config "$(win "$broken")"
check "strictFileExistCheck false: missing property files are warnings, the missing resource file a problem" \
    eval '[ $rc = 1 ] && has "$out" "2 warnings, 1 problem" && hasLine "$out" "warning .*CadProperties.xml" && hasLine "$out" "PROBLEM .*QarnResources.xml"'
run -- check-config "$(win "$work/empty")"
check "no installation folder: exit 1" eval '[ $rc = 1 ] && has "$out" "the installation folder does not exist"'
mkdir -p "$work/noconfig/xml"
run -- check-config "$(win "$work/noconfig")"
check "no configuration file: exit 1" eval '[ $rc = 1 ] && hasLine "$out" "PROBLEM .*QarnConnector.xml: the configuration file does not exist"'

# ---- encrypt-logon: the pasted element is read back by the connector's logon lookup ----
secret='Kiel<&>"Cad" 2024'
run -- encrypt-logon password "$secret"
element=$(head -n 1 <<<"$out")
check "encrypt-logon: the element with x3nc and a hint" \
    eval '[ $rc = 0 ] && hasLine "$element" "^<password x3nc=\"true\">[0-9A-Fa-f]+</password>$" && has "$out" "x3nc=\"true\" marks"'
logon=$work/logon
mkdir -p "$logon/xml"
cat >"$logon/xml/QarnSAPLogonParameter.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<SAPLogonParameter><logon><computername>default</computername><computeruser>default</computeruser>
<client>100</client><user>QARN_CAD</user>$element</logon></SAPLogonParameter>
EOF
cat >"$work/read-password.js" <<'EOF'
var u = new ActiveXObject("QarnComConnector.CQarnUtilities");
WScript.Echo("[" + u.GetSAPLogonPassword() + "]");
EOF
expected="[$secret]"
read_back=$(QarnRootDir="$(win "$logon")" qarn_wine_tool cscript //nologo "$(win "$work/read-password.js")" 2>&1 | tr -d '\r')
check "encrypt-logon: GetSAPLogonPassword returns the plain value" eval '[ "$read_back" = "$expected" ]'
run -- encrypt-logon "pass word" x; check "encrypt-logon: a name that is no element name is refused" eval '[ $rc = 2 ]'

# ---- list-transactions and show-transaction on the sample ----
root_env=QarnRootDir="$(win "$sample")"
run "$root_env" -- list-transactions Parts.xml
check "list-transactions: both transactions, the override marked" \
    eval '[ $rc = 0 ] && hasLine "$out" "^  CreatePart .*function=QARN_MATERIAL_CREATE.*customer override: no$" && hasLine "$out" "^  ChangePart .*customer override: yes$"'
check "list-transactions: contents counted" eval 'hasLine "$out" "^  CreatePart +5 fields, 4 structures, 1 table "'
run -- list-transactions "$(win "$sample/xml/Parts.xml")"
check "list-transactions: an absolute path finds its customer file" eval '[ $rc = 0 ] && hasLine "$out" "^  ChangePart .*customer override: yes$"'
run "$root_env" -- list-transactions Missing.xml
check "list-transactions: missing file, exit 1 with the connector's error" eval '[ $rc = 1 ] && has "$err" "Missing.xml does not exist"'
run "$root_env" -- list-transactions QarnConnector.xml
check "list-transactions: not a transaction file, exit 1" eval '[ $rc = 1 ] && has "$err" "expected <Qarn>"'

run "$root_env" -- show-transaction Parts.xml ChangePart
check "show-transaction: the customer override applies" \
    eval '[ $rc = 0 ] && hasLine "$out" "^  source = .*\\\\Customer_Parts.xml$" && has "$out" "  isCustomerFile = true" && has "$out" "  ChangeNumber = 500000000117"'
check "show-transaction: values from the configuration and attributes" \
    eval 'has "$out" "  Plant = 1100" && has "$out" "  mergeIntoInput = true" && hasLine "$out" "^    PLANT = 1100$"'
run "$root_env" -- show-transaction Parts.xml CreatePart
check "show-transaction: structures and table rows" \
    eval '[ $rc = 0 ] && hasLine "$out" "^    INDUSTRY_SECTOR = M$" && has "$out" "  DESCRIPTIONS (2 rows)" && hasLine "$out" "^      LANGU = DE$" && hasLine "$out" "^    WEIGHT_UNIT = KG"'
run "$root_env" -- show-transaction Parts.xml NoSuchPart
check "show-transaction: unknown alias, exit 1 with the connector's message" \
    eval '[ $rc = 1 ] && has "$err" "NoSuchPart" && has "$err" "not found in" && [ -z "$out" ]'

# ---- unregister and register ----
registered() { qarn_wine_tool reg query "HKCR\\$1" >/dev/null 2>&1; }  # registered PROGID
run -- unregister
check "unregister: both DLLs, the connector first" \
    eval '[ $rc = 0 ] && [ "$(grep -o "unregistered [A-Za-z]*.dll" <<<"$out" | tr "\n" " ")" = "unregistered QarnComConnector.dll unregistered QarnComDatatypes.dll " ]'
check "unregister: the ProgIDs are gone" eval '! registered QarnComConnector.CQarnUtilities && ! registered QarnComDatatypes.Field'
run -- encrypt-logon password x
check "unregistered: the tool says so, exit 1" eval '[ $rc = 1 ] && has "$err" "not registered"'
run -- register
check "register: both DLLs, the data types first" \
    eval '[ $rc = 0 ] && [ "$(grep -o "registered [A-Za-z]*.dll" <<<"$out" | tr "\n" " ")" = "registered QarnComDatatypes.dll registered QarnComConnector.dll " ]'
check "register: the ProgIDs are back" eval 'registered QarnComConnector.CQarnUtilities && registered QarnComDatatypes.Field'
run -- register --dir "$(win "$work")"
check "register from a folder without the DLLs: exit 1, each DLL reported" \
    eval '[ $rc = 1 ] && [ "$(grep -c "does not exist" <<<"$err")" = 2 ]'

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
