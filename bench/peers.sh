#!/bin/sh
# The same workload with our engine and with the dBASE libraries Debian ships (python3-dbf,
# Perl's XBase): append rows of the IP table's shape, open, exact-key lookups, a filtered scan.
# Prints each one's figures and our ratio. Not a test: figures depend on the machine.
#   bench/peers.sh [build-folder] [peer-rows]
set -eu
cd "$(dirname "$0")/.."
build="${1:-build}"
rows="${2:-20000}"   # the peers append a row at a time without a production index
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

ours="$("$build/bench/bench_store" --benchmark_filter='BM_Append|BM_Open|BM_LookupIP|BM_ScanFiltered' 2>/dev/null |
    sed -n '/^Summary/,$p')"

/usr/bin/python3 - "$work" "$rows" > "$work/py.txt" <<'PY'
import sys, time, dbf
work, n = sys.argv[1], int(sys.argv[2])
t = dbf.Table(work + '/ip.dbf', 'SYSID C(12); COMPUTER C(30); IP1 C(3); IP2 C(3); IP3 C(3); '
              'IP4 C(3); IPSTRING C(12); ALIAS1 C(30); ALIAS2 C(30); ALIAS3 C(30); ALIAS4 C(30); '
              'TYPE C(4); TYPEDESC C(30)', codepage='cp1252')
t.open(dbf.READ_WRITE)
start = time.perf_counter()
for i in range(n):
    a, b = i // 250 % 256, i % 250 + 1
    t.append(('A%07d' % i, 'host%d' % i, '10', '0', str(a), str(b), '100%d%d' % (a, b),
              'www%d' % i, '', '', '', 'UNIX' if i % 10 == 0 else 'WIND', 'desc'))
append = n / (time.perf_counter() - start)
t.close()
start = time.perf_counter()
for _ in range(20):
    t = dbf.Table(work + '/ip.dbf'); t.open(dbf.READ_ONLY); t.close()
opened = (time.perf_counter() - start) / 20 * 1e6
t = dbf.Table(work + '/ip.dbf'); t.open(dbf.READ_ONLY)
start = time.perf_counter()
idx = t.create_index(lambda r: r.ipstring.strip())
built = time.perf_counter() - start
start = time.perf_counter()
keys = ['100%d%d' % (i // 250 % 256, i % 250 + 1) for i in range(0, n, max(1, n // 1000))]
for k in keys:
    idx.index_search(k)
lookups = len(keys) / (time.perf_counter() - start)
start = time.perf_counter()
hits = sum(1 for r in t if r.type.strip() == 'UNIX' and r.ip1.strip() == '10')
scan = n / (time.perf_counter() - start)
print('python3-dbf append %.0f rows/s (no index kept); open %.0f us; lookups %.0f /s '
      '(in-memory index, built in %.2f s); filtered scan %.0f rows/s' % (append, opened, lookups, built, scan))
PY

perl - "$work" "$rows" > "$work/pl.txt" <<'PL'
use strict; use XBase; use Time::HiRes qw(time);
my ($work, $n) = @ARGV;
my $t = XBase->create(name => "$work/ipx.dbf",
    field_names => [qw(SYSID COMPUTER IP1 IP2 IP3 IP4 IPSTRING ALIAS1 ALIAS2 ALIAS3 ALIAS4 TYPE TYPEDESC)],
    field_types => [('C') x 13], field_lengths => [12, 30, 3, 3, 3, 3, 12, 30, 30, 30, 30, 4, 30],
    field_decimals => [(undef) x 13]) or die XBase->errstr;
my $s = time;
for my $i (0 .. $n - 1) {
    my ($a, $b) = (int($i / 250) % 256, $i % 250 + 1);
    $t->set_record($i, sprintf('A%07d', $i), "host$i", '10', '0', $a, $b, "100$a$b", "www$i", '', '', '',
                   $i % 10 == 0 ? 'UNIX' : 'WIND', 'desc');
}
my $append = $n / (time - $s);
$t->close;
$s = time;
for (1 .. 20) { my $o = XBase->new("$work/ipx.dbf") or die; $o->close; }
my $open = (time - $s) / 20 * 1e6;
$t = XBase->new("$work/ipx.dbf");
$s = time;
my $hits = 0;
for my $r (0 .. $t->last_record) {
    my ($del, @v) = $t->get_record($r);
    $hits++ if !$del && $v[11] eq 'UNIX' && $v[2] eq '10';
}
my $scan = $n / (time - $s);
printf "Perl XBase append %.0f rows/s (no .mdx written); open %.0f us; filtered scan %.0f rows/s; "
     . "lookups need a prebuilt index it cannot write\n", $append, $open, $scan;
PL

echo "$ours"
echo
echo "Peers, $rows rows:"
cat "$work/py.txt" "$work/pl.txt"
echo
printf '%s\n' "$ours" > "$work/ours.txt"
/usr/bin/python3 - "$work" <<'PY'
import re, sys
w = sys.argv[1]
ours = open(w + '/ours.txt').read()
def num(pattern, text):
    m = re.search(pattern, text)
    return float(m.group(1)) if m else None
o = {'append': num(r'append 100k rows, every tag\s+([\d.]+)', ours),
     'open': num(r'open table \+ production index\s+([\d.]+)', ours),
     'lookups': num(r'BM_LookupIP/real_time\s+([\d.]+)', ours),
     'scan': num(r'filtered physical scan\s+([\d.]+)', ours)}
for name in ('py', 'pl'):
    t = open(w + '/%s.txt' % name).read()
    p = {'append': num(r'append ([\d.]+)', t), 'open': num(r'open ([\d.]+)', t),
         'lookups': num(r'lookups ([\d.]+) /s', t), 'scan': num(r'scan ([\d.]+)', t)}
    parts = []
    for k in ('append', 'open', 'lookups', 'scan'):
        if o[k] and p[k]:
            r = p[k] / o[k] if k == 'open' else o[k] / p[k]
            parts.append('%s %.1fx' % (k, r))
        else:
            parts.append('%s n/a' % k)
    print('ours vs %s: %s' % ('python3-dbf' if name == 'py' else 'Perl XBase', ', '.join(parts)))
PY
