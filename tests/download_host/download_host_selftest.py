#!/usr/bin/env python3
"""Checks tools/download_host.py from a plain TLS client: each scenario answers as the download tests
expect, the command's exit status comes back, and the listeners are gone on every way out.

    download_host_selftest.py PKI_DIR

A unittest; the scenarios are checked by a second one that runs inside the host, as its command (--client),
each scenario a subTest.
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
import unittest

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


class Scenarios(unittest.TestCase):
    """Runs inside the host, as its command: one pass in order, since the request log and the scenario file
    are read as the requests before left them."""
    pki = named_file = None

    def test_each_scenario_answers_as_the_download_tests_expect(self):
        port = int(os.environ['LUMIVANCE_DOWNLOAD_PORT'])
        context = ssl.create_default_context(cafile=os.path.join(self.pki, 'root.crt'))

        status, headers, body, end = fetch(port, '/exact/70000', context)
        self.assertTrue((status, body, end) == (200, pattern(70000), 'complete'), 'exact')
        self.assertTrue(headers['Content-Length'] == '70000', 'exact length')
        status, headers, _, _ = fetch(port, '/redirect/10', context)
        self.assertTrue(status == 302 and headers['Location'].endswith('/exact/10'), 'redirect')
        status, headers, body, _ = fetch(port, '/partial/10', context)
        self.assertTrue(status == 206 and headers['Content-Range'] == 'bytes 0-9/10' and body == pattern(10),
                        'partial')
        self.assertTrue(fetch(port, '/notfound/10', context)[0] == 404, 'notfound')
        self.assertTrue(fetch(port, '/unavailable/10', context)[0] == 503, 'unavailable')
        status, headers, body, _ = fetch(port, '/empty/10', context)
        self.assertTrue((status, headers['Content-Length'], body) == (200, '0', b''), 'empty')
        status, _, body, end = fetch(port, '/short/1000', context)
        self.assertTrue((status, body, end) == (200, pattern(999), 'incomplete'),
                        f'short ended {end} after {len(body)}')
        status, _, body, end = fetch(port, '/long/1000', context)
        self.assertTrue((status, body[:1000], len(body)) == (200, pattern(1000), 1001), 'long')
        status, _, body, end = fetch(port, '/drop/100000', context)
        self.assertTrue(status == 200 and end != 'complete' and len(body) <= 50000,
                        f'drop ended {end} after {len(body)}')
        status, _, body, end = fetch(port, '/drip/200000', context)
        self.assertTrue((status, body) == (200, pattern(200000)), 'drip')

        gate = os.environ['LUMIVANCE_GATE_FILE']
        answers = []
        held = threading.Thread(target=lambda: answers.append(fetch(port, '/gate/1000', context)))
        held.start()
        self.assertTrue(wait_for_text(gate, 'held'), 'gate: never held')
        self.assertTrue(held.is_alive(), 'gate: the body ended before the gate opened')
        with open(gate, 'w') as out:
            out.write('open\n')
        held.join(timeout=10)
        self.assertTrue(answers and answers[0][2:] == (pattern(1000), 'complete'), 'gate: the body after the gate')
        self.assertTrue(not os.path.exists(gate), 'gate: the gate file outlived its request')
        status, _, body, end = fetch(port, '/gate/1000', context)
        self.assertTrue((status, body, end) == (200, pattern(999), 'incomplete'), f'gate never opened ended {end}')

        started = time.monotonic()
        try:
            fetch(port, '/silent/10', context)
            self.fail('silent answered')
        except (http.client.RemoteDisconnected, ConnectionResetError):
            self.assertTrue(time.monotonic() - started >= 0.9, 'silent closed before --hold')
        status, _, body, end = fetch(port, '/stall/100000', context)
        self.assertTrue(status == 200 and end == 'incomplete' and len(body) == 50000,
                        f'stall ended {end} after {len(body)}')

        scenario_file = os.environ['LUMIVANCE_SCENARIO_FILE']
        with open(self.named_file, 'rb') as source:
            named = source.read()
        self.assertTrue(fetch(port, '/downloads/any.exe', context)[2] == named, 'default body')
        with open(scenario_file, 'w') as out:
            out.write('unavailable\n')
        self.assertTrue(fetch(port, '/downloads/any.exe', context)[0] == 503, 'scenario file read at each request')
        with open(scenario_file, 'w') as out:
            out.write('short named\n')
        self.assertTrue(fetch(port, '/downloads/any.exe', context)[2] == named[:-1], 'named body')
        with open(scenario_file, 'w') as out:
            out.write('nonsense\n')
        self.assertTrue(fetch(port, '/downloads/any.exe', context)[0] == 500, 'unknown scenario')

        try:
            fetch(int(os.environ['LUMIVANCE_UNTRUSTED_PORT']), '/exact/10', context)
            self.fail('the untrusted certificate was accepted')
        except ssl.SSLCertVerificationError:
            pass
        try:
            socket.create_connection(('127.0.0.1', int(os.environ['LUMIVANCE_CLOSED_PORT'])), timeout=5).close()
            self.fail('something listens on the closed port')
        except ConnectionRefusedError:
            pass

        with open(os.environ['LUMIVANCE_REQUEST_LOG'], encoding='utf-8') as log:
            blocks = log.read().split('\n\n')
        self.assertTrue(blocks[0].split('\n')[0] == 'GET /exact/70000 HTTP/1.1', 'log: request line')
        self.assertTrue('Host: localhost:%d' % port in blocks[0].split('\n'), 'log: headers')
        with open(os.environ['PORTS_TO'], 'w') as out:
            out.write(f'{port} {os.environ["LUMIVANCE_UNTRUSTED_PORT"]}')


def client(pki, named_file):
    Scenarios.pki, Scenarios.named_file = pki, named_file
    result = unittest.TextTestRunner(verbosity=2).run(unittest.defaultTestLoader.loadTestsFromTestCase(Scenarios))
    return 7 if result.wasSuccessful() else 1


def run_host(arguments, timeout=120):
    return subprocess.run([sys.executable, HOST_SCRIPT] + arguments, timeout=timeout)


def nothing_listens(port):
    try:
        socket.create_connection(('127.0.0.1', port), timeout=2).close()
        return False
    except OSError:
        return True


class DownloadHost(unittest.TestCase):
    pki = None  # the test PKI's folder, from the command line

    def test_runs_its_command_and_leaves_no_listener_behind(self):
        with tempfile.TemporaryDirectory() as scratch:
            named = os.path.join(scratch, 'named.bin')
            with open(named, 'wb') as out:
                out.write(os.urandom(100000))
            ports_to = os.path.join(scratch, 'ports')
            os.environ['PORTS_TO'] = ports_to
            result = run_host(['--pki', self.pki, '--file', f'named={named}', '--hold', '1', '--drip-ms', '5', '--',
                               sys.executable, __file__, '--client', self.pki, named])
            self.assertEqual(result.returncode, 7, 'the command\'s status did not come back (or a scenario failed)')
            ports = [int(word) for word in open(ports_to).read().split()]
            self.assertTrue(all(nothing_listens(port) for port in ports), 'a listener outlived the host')

            fixed = run_host(['--pki', self.pki, '--port', str(ports[0]), '--', sys.executable, '-c',
                              'import os, sys; sys.exit(os.environ["LUMIVANCE_DOWNLOAD_PORT"] != sys.argv[1])',
                              str(ports[0])])
            self.assertEqual(fixed.returncode, 0, '--port was not honoured')

    def test_its_lifetime_ends_the_command(self):
        started = time.monotonic()
        expired = run_host(['--pki', self.pki, '--lifetime', '1', '--', 'sleep', '60'], timeout=30)
        self.assertTrue(expired.returncode == 124 and time.monotonic() - started < 15,
                        'the lifetime did not end the run')

    def test_a_terminated_host_says_so(self):
        killed = subprocess.Popen([sys.executable, HOST_SCRIPT, '--pki', self.pki, '--', 'sleep', '60'])
        time.sleep(1.5)
        killed.terminate()
        self.assertEqual(killed.wait(timeout=15), 128 + 15, 'a terminated host did not say so')


if __name__ == '__main__':
    if len(sys.argv) > 1 and sys.argv[1] == '--client':
        sys.exit(client(sys.argv[2], sys.argv[3]))
    DownloadHost.pki = sys.argv[1]
    sys.exit(not unittest.TextTestRunner(verbosity=2).run(
        unittest.defaultTestLoader.loadTestsFromTestCase(DownloadHost)).wasSuccessful())
