#!/usr/bin/env python3
# rt8ctl as a whole process (start to exit), `find` and `write --verify` of
# one .RTX file, against one rt8sim: on its pseudo-terminal, through ser2net
# raw TCP and through ser2net RFC 2217 on 127.0.0.1 (default options), RUNS
# (15) runs each after one to warm up; median, min and max, and RFC 2217's
# median less raw's (target: within 5 ms).
#
#   bench/ctl_net.py BUILD [RUNS]
#
# BUILD holds src/ctl/rt8ctl and sim/rt8sim. Prints a markdown table; a run
# that fails is counted in it (and left out of the times). Exit code 0, 2 on
# bad usage, 3 when a program does not start or every run of a row failed.
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

if len(sys.argv) not in (2, 3):
    sys.exit(2)
build = sys.argv[1]
runs = int(sys.argv[2]) if len(sys.argv) == 3 else 15
rt8ctl = os.path.join(build, 'src/ctl/rt8ctl')
rt8sim = os.path.join(build, 'sim/rt8sim')
tmp = tempfile.mkdtemp(prefix='ctl-net-')
children = []


def fail(why):
    print('bench/ctl_net.py: ' + why, file=sys.stderr)
    for p in children:
        p.kill()
    sys.exit(3)


def free_port():
    s = socket.socket()
    s.bind(('127.0.0.1', 0))
    port = s.getsockname()[1]
    s.close()
    return port


# Its standard input stays open: at its end the simulator stops.
sim = subprocess.Popen([rt8sim, '--exit-after', '900', '--address', '1', '--digits', '4'], stdin=subprocess.PIPE,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
children.append(sim)
pty = None
deadline = time.monotonic() + 20
while pty is None and time.monotonic() < deadline:
    line = sim.stdout.readline()
    if not line:
        break
    if line.startswith('port: '):
        pty = line[6:].strip()
if pty is None:
    fail('rt8sim gave no port')
# The simulator's log is read on, so that it never waits to write it.
threading.Thread(target=lambda: [None for _ in sim.stdout], daemon=True).start()


def ser2net(telnet):
    port = free_port()
    cfg = os.path.join(tmp, 'ser2net-%d.yaml' % port)
    with open(cfg, 'w') as f:
        f.write('connection: &rt8\n'
                '  accepter: %stcp,127.0.0.1,%d\n'
                '  connector: serialdev,%s,38400n81,local\n'
                '  options:\n'
                '    kickolduser: true\n' % ('telnet(rfc2217),' if telnet else '', port, pty))
    p = subprocess.Popen(['ser2net', '-n', '-u', '-c', cfg, '-P', os.path.join(tmp, 'pid%d' % port)],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    children.append(p)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        try:
            socket.create_connection(('127.0.0.1', port), 0.5).close()
            break
        except OSError:
            time.sleep(0.05)
    else:
        fail('ser2net did not start')
    time.sleep(0.2)
    return '%s://127.0.0.1:%d' % ('rfc2217' if telnet else 'tcp', port)


failures = []


def timed(args, must=False):
    start = time.perf_counter()
    r = subprocess.run([rt8ctl] + args, capture_output=True, text=True, timeout=60)
    ms = (time.perf_counter() - start) * 1000
    if r.returncode != 0:
        why = '%s: exit %d: %s' % (' '.join(args), r.returncode, r.stderr.strip())
        if must:
            fail(why)
        failures.append(why)
        return None
    return ms


ports = [('pseudo-terminal', pty), ('ser2net raw', ser2net(False)), ('ser2net RFC 2217', ser2net(True))]
rtx = os.path.join(tmp, 'table.RTX')
timed(['--port', pty, '--address', '1', 'read', rtx], must=True)
medians = {}
print('| rt8ctl | port | median | min | max | failed |')
print('|---|---|---|---|---|---|')
for command, extra in (('find', ['find']), ('write --verify', ['--address', '1', 'write', rtx, '--verify'])):
    for name, port in ports:
        args = ['--port', port] + extra
        timed(args)
        all_runs = [timed(args) for _ in range(runs)]
        t = [ms for ms in all_runs if ms is not None]
        if not t:
            fail('every run failed: ' + failures[-1])
        medians[(command, name)] = statistics.median(t)
        print('| `%s` | %s | %.1f ms | %.1f ms | %.1f ms | %d of %d |'
              % (command, name, statistics.median(t), min(t), max(t), runs - len(t), runs), flush=True)
for command in ('find', 'write --verify'):
    added = medians[(command, 'ser2net RFC 2217')] - medians[(command, 'ser2net raw')]
    print('\n`%s`: RFC 2217 less raw %.1f ms (target within 5 ms): %s'
          % (command, added, 'PASS' if added <= 5 else 'FAIL'), end='')
print()
for why in failures:
    print('failed: ' + why, file=sys.stderr)
for p in children:
    p.kill()
