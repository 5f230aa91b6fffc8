# The two version numbers of CMakeLists.txt, for the packaging scripts and the package tests:
#   qarn_version  the DLLs' own version (project() VERSION): their version resources and the
#                 assembly version of their manifests; it changes when the DLLs' interfaces do
#   qarn_release  the release (QARN_RELEASE): the packages' names and the MSIs' ProductVersion,
#                 three fields, raised for every release (Windows Installer compares only these)
# Sourced: sets both variables, or prints why not and returns 1.
#   source scripts/package/versions.sh <source dir>
qarn_version=$(sed -n 's/^project(QarnComConnector VERSION \([0-9.]*\).*/\1/p' "$1/CMakeLists.txt")
qarn_release=$(sed -n 's/^set(QARN_RELEASE \([0-9]*\.[0-9]*\.[0-9]*\))$/\1/p' "$1/CMakeLists.txt")
if [ -z "$qarn_version" ] || [ -z "$qarn_release" ]; then
    echo "no project() VERSION or no three-field QARN_RELEASE in $1/CMakeLists.txt" >&2
    return 1
fi
