#!/bin/sh
# Lists the computers this machine hears of into net.txt in the current folder: four heading
# lines, one "\\NAME   remark" line per computer, then a closing line. Sources, each used only
# when its tool is installed: NetBIOS names (nmblookup), mDNS workstations (avahi-browse) and
# the neighbour table (ip neigh) with reverse look-ups. It asks and listens; it never probes
# addresses one by one.

LC_ALL=C
export LC_ALL

out=net.txt
tmp=net.txt.tmp.$$
trap 'rm -f "$tmp" "$tmp.src"' EXIT
seen='
'

have() { command -v "$1" >/dev/null 2>&1; }

# Reverse look-ups may wait on an unreachable name server; give each a few seconds.
limited() {
    if have timeout; then
        timeout 5 "$@"
    else
        "$@"
    fi
}

# emit NAME REMARK: one listing line, unless the name cannot stand in the layout or a name
# with the same first label (any letter case) is already listed.
emit() {
    name=$1
    case $name in
    '' | *[[:space:][:cntrl:]]*) return ;;
    # A name cut as "e" would end the list for the reader.
    e) return ;;
    esac
    key=$(printf '%s\n' "$name" | sed 's/\..*//' | tr '[:upper:]' '[:lower:]')
    [ -n "$key" ] || return
    case $seen in
    *"
$key
"*) return ;;
    esac
    seen="$seen$key
"
    # The reader takes code page 1252; names it cannot hold are left out.
    case $name in
    *[![:print:]]*)
        have iconv || return
        name=$(printf '%s' "$name" | iconv -f UTF-8 -t CP1252 2>/dev/null) || return
        ;;
    esac
    printf '\\\\%-21s %s\r\n' "$name" "$2" >>"$tmp"
}

netbios() {
    have nmblookup || return
    # A broadcast name query for everyone, then a node status query to each who answered.
    nmblookup -S '*' 2>/dev/null | awk '
        /^Looking up status of / { addr = $5; next }
        /^\t/ && / <00> - / && !/<GROUP>/ {
            line = $0
            sub(/^\t/, "", line)
            sub(/ +<00> - .*/, "", line)
            print line "\t" addr
        }'
}

mdns() {
    have avahi-browse || return
    # Resolved IPv4 workstation entries: =;if;IPv4;service;type;domain;host;address;port;txt
    limited avahi-browse -t -r -p -k _workstation._tcp 2>/dev/null | awk -F';' '
        $1 == "=" && $3 == "IPv4" && $7 != "" { print $7 "\t" $8 }'
}

neighbours() {
    have ip || return
    ip -4 neigh show 2>/dev/null | awk '/ lladdr / && !/FAILED|INCOMPLETE/ { print $1 }' |
        while read -r addr; do
            have getent || break
            host=$(limited getent hosts "$addr" | awk 'NR == 1 { print $2 }')
            if [ -n "$host" ]; then
                printf '%s\t%s\n' "$host" "$addr"
            fi
        done
}

# add SOURCE: reads "name<TAB>address" lines.
add() {
    tab=$(printf '\t')
    while IFS=$tab read -r name addr; do
        if [ -n "$addr" ]; then
            emit "$name" "$1 $addr"
        else
            emit "$name" "$1"
        fi
    done
}

: >"$tmp" || exit 1
{
    printf 'Computers seen from %s, %s\r\n' "$(uname -n)" "$(date '+%Y-%m-%d %H:%M')"
    printf '\r\n'
    printf '%-23s %s\r\n' 'Server Name' 'Remark'
    printf '%s\r\n' '-------------------------------------------------------------------------------'
} >>"$tmp"

# Each source's lines are read by the shell itself, so "seen" outlives the pipe.
# A source that is missing or fails adds nothing.
netbios >"$tmp.src"
add NetBIOS <"$tmp.src"
mdns >"$tmp.src"
add mDNS <"$tmp.src"
neighbours >"$tmp.src"
add neighbour <"$tmp.src"
rm -f "$tmp.src"

printf 'The command completed successfully.\r\n' >>"$tmp"
mv -f "$tmp" "$out"
