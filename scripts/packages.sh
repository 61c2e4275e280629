# Sourced by the scripts that set up a machine: installs the Debian packages that are missing.
#
#   install_missing SAY PACKAGE...
#
# Installs, through apt-get (as root, through sudo when not run as root), those of the packages
# that are not installed yet, after saying which with the command SAY ("echo", or a script's own
# step). Installs nothing, and says nothing, when all of them are there.
install_missing() {
    local say=$1 package
    shift
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    "$say" "installing ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}
