#!/usr/bin/env python3
"""Checks tools/download_host.py from a plain TLS client: each scenario answers as the download tests
expect, the command's exit status comes back, and the listeners are gone on every way out.

    download_host_selftest.py PKI_DIR
"""

import http.client
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
HOST_SCRIPT = os.path.join(HERE, '..', '..', 'tools', 'download_host.py')


def pattern(size):
    return bytes(i % 251 for i in range(size))


def fetch(port, path, context):
    """(status, headers, body, how the body ended)."""
    connection = http.client.HTTPSConnection('localhost', port, context=context, timeout=10)
    try:
        connection.request('GET', path)
        response = connection.getresponse()
        try:
            return response.status, dict(response.getheaders()), response.read(), 'complete'
        except http.client.IncompleteRead as cut:
            return response.status, dict(response.getheaders()), cut.partial, 'incomplete'
        except (ConnectionResetError, ssl.SSLError) as error:
            return response.status, dict(response.getheaders()), b'', type(error).__name__
    finally:
        connection.close()


def wait_for_text(path, text, timeout=5.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with open(path) as source:
                if source.read().strip() == text:
                    return True
        except FileNotFoundError:
            pass
        time.sleep(0.01)
    return False


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def client(pki, named_file):
    """Runs inside the host, as its command."""
    port = int(os.environ['LUMIVANCE_DOWNLOAD_PORT'])
    context = ssl.create_default_context(cafile=os.path.join(pki, 'root.crt'))

    status, headers, body, end = fetch(port, '/exact/70000', context)
    check((status, body, end) == (200, pattern(70000), 'complete'), 'exact')
    check(headers['Content-Length'] == '70000', 'exact length')
    status, headers, _, _ = fetch(port, '/redirect/10', context)
    check(status == 302 and headers['Location'].endswith('/exact/10'), 'redirect')
    status, headers, body, _ = fetch(port, '/partial/10', context)
    check(status == 206 and headers['Content-Range'] == 'bytes 0-9/10' and body == pattern(10), 'partial')
    check(fetch(port, '/notfound/10', context)[0] == 404, 'notfound')
    check(fetch(port, '/unavailable/10', context)[0] == 503, 'unavailable')
    status, headers, body, _ = fetch(port, '/empty/10', context)
    check((status, headers['Content-Length'], body) == (200, '0', b''), 'empty')
    status, _, body, end = fetch(port, '/short/1000', context)
    check((status, body, end) == (200, pattern(999), 'incomplete'), f'short ended {end} after {len(body)}')
    status, _, body, end = fetch(port, '/long/1000', context)
    check((status, body[:1000], len(body)) == (200, pattern(1000), 1001), 'long')
    status, _, body, end = fetch(port, '/drop/100000', context)
    check(status == 200 and end != 'complete' and len(body) <= 50000, f'drop ended {end} after {len(body)}')
    status, _, body, end = fetch(port, '/drip/200000', context)
    check((status, body) == (200, pattern(200000)), 'drip')

    gate = os.environ['LUMIVANCE_GATE_FILE']
    answers = []
    held = threading.Thread(target=lambda: answers.append(fetch(port, '/gate/1000', context)))
    held.start()
    check(wait_for_text(gate, 'held'), 'gate: never held')
    check(held.is_alive(), 'gate: the body ended before the gate opened')
    with open(gate, 'w') as out:
        out.write('open\n')
    held.join(timeout=10)
    check(answers and answers[0][2:] == (pattern(1000), 'complete'), 'gate: the body after the gate')
    check(not os.path.exists(gate), 'gate: the gate file outlived its request')
    status, _, body, end = fetch(port, '/gate/1000', context)
    check((status, body, end) == (200, pattern(999), 'incomplete'), f'gate never opened ended {end}')

    started = time.monotonic()
    try:
        fetch(port, '/silent/10', context)
        check(False, 'silent answered')
    except (http.client.RemoteDisconnected, ConnectionResetError):
        check(time.monotonic() - started >= 0.9, 'silent closed before --hold')
    status, _, body, end = fetch(port, '/stall/100000', context)
    check(status == 200 and end == 'incomplete' and len(body) == 50000, f'stall ended {end} after {len(body)}')

    scenario_file = os.environ['LUMIVANCE_SCENARIO_FILE']
    check(fetch(port, '/downloads/any.exe', context)[2] == open(named_file, 'rb').read(), 'default body')
    with open(scenario_file, 'w') as out:
        out.write('unavailable\n')
    check(fetch(port, '/downloads/any.exe', context)[0] == 503, 'scenario file read at each request')
    with open(scenario_file, 'w') as out:
        out.write('short named\n')
    check(fetch(port, '/downloads/any.exe', context)[2] == open(named_file, 'rb').read()[:-1], 'named body')
    with open(scenario_file, 'w') as out:
        out.write('nonsense\n')
    check(fetch(port, '/downloads/any.exe', context)[0] == 500, 'unknown scenario')

    try:
        fetch(int(os.environ['LUMIVANCE_UNTRUSTED_PORT']), '/exact/10', context)
        check(False, 'the untrusted certificate was accepted')
    except ssl.SSLCertVerificationError:
        pass
    try:
        socket.create_connection(('127.0.0.1', int(os.environ['LUMIVANCE_CLOSED_PORT'])), timeout=5).close()
        check(False, 'something listens on the closed port')
    except ConnectionRefusedError:
        pass

    with open(os.environ['LUMIVANCE_REQUEST_LOG'], encoding='utf-8') as log:
        blocks = log.read().split('\n\n')
    check(blocks[0].split('\n')[0] == 'GET /exact/70000 HTTP/1.1', 'log: request line')
    check('Host: localhost:%d' % port in blocks[0].split('\n'), 'log: headers')
    with open(os.environ['PORTS_TO'], 'w') as out:
        out.write(f'{port} {os.environ["LUMIVANCE_UNTRUSTED_PORT"]}')
    return 7


def run_host(arguments, timeout=120):
    return subprocess.run([sys.executable, HOST_SCRIPT] + arguments, timeout=timeout)


def nothing_listens(port):
    try:
        socket.create_connection(('127.0.0.1', port), timeout=2).close()
        return False
    except OSError:
        return True


def main(pki):
    with tempfile.TemporaryDirectory() as scratch:
        named = os.path.join(scratch, 'named.bin')
        with open(named, 'wb') as out:
            out.write(os.urandom(100000))
        ports_to = os.path.join(scratch, 'ports')
        os.environ['PORTS_TO'] = ports_to
        result = run_host(['--pki', pki, '--file', f'named={named}', '--hold', '1', '--drip-ms', '5', '--',
                           sys.executable, __file__, '--client', pki, named])
        check(result.returncode == 7, f'the command\'s status did not come back: {result.returncode}')
        ports = [int(word) for word in open(ports_to).read().split()]
        check(all(nothing_listens(port) for port in ports), 'a listener outlived the host')

        fixed = run_host(['--pki', pki, '--port', str(ports[0]), '--', sys.executable, '-c',
                          'import os, sys; sys.exit(os.environ["LUMIVANCE_DOWNLOAD_PORT"] != sys.argv[1])',
                          str(ports[0])])
        check(fixed.returncode == 0, '--port was not honoured')

        started = time.monotonic()
        expired = run_host(['--pki', pki, '--lifetime', '1', '--', 'sleep', '60'], timeout=30)
        check(expired.returncode == 124 and time.monotonic() - started < 15, 'the lifetime did not end the run')

        killed = subprocess.Popen([sys.executable, HOST_SCRIPT, '--pki', pki, '--', 'sleep', '60'])
        time.sleep(1.5)
        killed.terminate()
        check(killed.wait(timeout=15) == 128 + 15, 'a terminated host did not say so')
    print('download_host: every scenario and every way out behaved')
    return 0


if __name__ == '__main__':
    if len(sys.argv) > 1 and sys.argv[1] == '--client':
        sys.exit(client(sys.argv[2], sys.argv[3]))
    sys.exit(main(sys.argv[1]))
