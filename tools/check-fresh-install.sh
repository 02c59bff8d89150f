#!/bin/sh
# Installs the Debian package on a fresh, minimal Debian 12 (a chroot made by mmdebstrap) with
# apt-get, then starts the desktop entry's command as a new user under Xvfb and checks that the
# working folder is prepared and the main window appears; a screenshot is left beside the
# package. Needs root and a Debian mirror; not part of the test command (it downloads a system).
# Usage: tools/check-fresh-install.sh build-release/package/quillnet_*.deb [chroot folder]
set -eu
deb=$(realpath "$1")
root=${2:-/tmp/quillnet-fresh}
[ "$(id -u)" -eq 0 ] || { echo "Needs root (chroot, mounts, a new user)." >&2; exit 1; }
command -v mmdebstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mmdebstrap

if [ ! -x "$root/usr/bin/apt-get" ]; then
    mirror=http://deb.debian.org/debian
    mmdebstrap --variant=apt --mode=root bookworm "$root" "deb $mirror bookworm main" \
        "deb $mirror bookworm-updates main" "deb $mirror-security bookworm-security main"
fi
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
mount -t sysfs sys "$root/sys"
trap 'umount -R "$root/dev" "$root/proc" "$root/sys"' EXIT
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/root/"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }

echo "== apt-get install ./$(basename "$deb") on a system of $(in_root dpkg-query -W | wc -l) packages"
log="$root/root/install.log"
if ! in_root sh -c "apt-get update -qq && cd /root &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q ./$(basename "$deb")" >"$log" 2>&1; then
    cat "$log"
    exit 1
fi
grep -E "^[0-9]+ upgraded|^Setting up quillnet" "$log"
missing=$(in_root sh -c 'ldd /usr/bin/quillnet /usr/lib/*/qt6/plugins/platforms/libqxcb.so' |
    grep "not found" || true)
[ -z "$missing" ] || { echo "Libraries missing after the install: $missing"; exit 1; }
in_root quillnet --version

# Tools for looking at the screen, installed only after the check above.
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xauth xdotool x11-utils imagemagick' >/dev/null
user=qnuser$$
in_root useradd -m -s /bin/sh "$user"
cat >"$root/tmp/launch.sh" <<'EOF'
#!/bin/sh
cd "$HOME"
cmd=$(sed -n 's/^Exec=//p' /usr/share/applications/org.quillnet.Quillnet.desktop)
$cmd >"$HOME/quillnet.log" 2>&1 &
for i in $(seq 1 60); do
    xdotool search --onlyvisible --name '^Quillnet$' >/dev/null 2>&1 && break
    sleep 0.5
done
sleep 2
for w in $(xdotool search --onlyvisible --name '^Quillnet$'); do
    echo "window $w: \"$(xdotool getwindowname "$w")\"" \
        "$(xwininfo -id "$w" | sed -n 's/^ *\(Width\|Height\): */\1=/p' | tr '\n' ' ')"
done
import -window root "$HOME/screen.png"
kill $! 2>/dev/null || true
EOF
chmod 755 "$root/tmp/launch.sh"
echo "== $user starts '$(sed -n 's/^Exec=//p' "$root/usr/share/applications/org.quillnet.Quillnet.desktop")' under Xvfb"
windows=$(in_root su - "$user" -c 'xvfb-run -a -s "-screen 0 1280x1024x24" /tmp/launch.sh')
echo "$windows"
work="$root/home/$user/.local/share/Quillnet"
echo "== $work:"
ls "$work" "$work/Master" | sed 's/^/  /'
cp "$root/home/$user/screen.png" "$(dirname "$deb")/fresh-install-screen.png"

status=0
[ -f "$work/Master/IP.dbf" ] && [ -x "$work/netview.sh" ] || { echo "FAILED: working folder"; status=1; }
echo "$windows" | grep -q "Width=" || { echo "FAILED: no main window"; status=1; }
[ $status -eq 0 ] && echo "Fresh install checks passed"
exit $status
