#!/usr/bin/python3
"""scripts/release-check against Debian's nginx, serving a release in the states a publisher gets wrong.

    release_check_test.py PKI_DIR     (run under tools/tsa-server, which gives LUMIVANCE_TSA_URL)

One row per state of the host: each row serves a site through tools/nginx-host (the publisher's sample
config), runs release-check with the test root as --ca, and checks its exit code, each architecture's row
and reasons, the requests nginx logged (setup's request, never a second one after a redirect) and that no
file was left in its temporary folder. Then release-check beside a res/catalogue.json that lacks one of
setup's sentences, which must stop it (exit 2) rather than leave it without the sentence. A unittest: each
row is a subTest, and it exits non-zero naming every row that went wrong.
"""

import datetime
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RELEASE_CHECK = os.path.join(ROOT, 'scripts', 'release-check')
NGINX_HOST = os.path.join(ROOT, 'tools', 'nginx-host')
sys.path.insert(0, os.path.join(ROOT, 'scripts'))
from release_json import sha256_of  # noqa: E402 (after the path it comes from)

PATHS = {arch: f'/downloads/win/{arch}/LumivanceSetup-0.3.20.exe' for arch in ('x64', 'arm64')}
FREE_PORT = os.path.join(ROOT, 'tools', 'free-port')
ROW_LINE = re.compile(r'^  (x64|arm64)\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s+(OK|WRONG)$')


def minimal_pe(payload):
    """A PE32+ image with one section holding payload: all osslsigncode needs to sign and verify."""
    code = b'\xc3' + payload
    raw = (len(code) + 0x1FF) & ~0x1FF
    code = code.ljust(raw, b'\0')
    dos = b'MZ' + b'\0' * 58 + struct.pack('<I', 0x40)
    coff = struct.pack('<HHIIIHH', 0x8664, 1, 0, 0, 0, 240, 0x22)
    optional = struct.pack('<HBBIIIII', 0x20B, 14, 0, raw, 0, 0, 0x1000, 0x1000)
    optional += struct.pack('<QII', 0x140000000, 0x1000, 0x200)
    optional += struct.pack('<HHHHHHI', 6, 0, 0, 0, 6, 0, 0)
    optional += struct.pack('<IIIHH', 0x1000 + ((raw + 0xFFF) & ~0xFFF), 0x200, 0, 2, 0x8160)
    optional += struct.pack('<QQQQII', 0x100000, 0x1000, 0x100000, 0x1000, 0, 16) + b'\0' * 128
    section = struct.pack('<8sIIIIIIHHI', b'.text', len(code), 0x1000, raw, 0x200, 0, 0, 0, 0, 0x60000020)
    return (dos + b'PE\0\0' + coff + optional + section).ljust(0x200, b'\0') + code


def sign(pki, source, target, signing_time, signer='codesign', timestamp=False):
    stamp = ['-ts', os.environ['LUMIVANCE_TSA_URL']] if timestamp else ['-time', str(signing_time)]
    subprocess.run(['osslsigncode', 'sign', '-h', 'sha256', '-certs', f'{pki}/{signer}.crt',
                    '-key', f'{pki}/{signer}.key', '-n', 'Lumivance', *stamp,
                    '-in', source, '-out', target], check=True, stdout=subprocess.DEVNULL)


def make_installers(pki, folder):
    """x64 and arm64 installers as published; the x64 one re-signed later (same size, another digest), cut
    short, unsigned, signed by a stranger; both signed by the certificate that ends in 30 days, without and
    with a time stamp."""
    files = {}
    for arch, size in (('x64', 2_600_000), ('arm64', 2_100_000)):
        unsigned = os.path.join(folder, f'{arch}-unsigned.exe')
        with open(unsigned, 'wb') as out:
            out.write(minimal_pe(os.urandom(size)))
        files[f'{arch}-unsigned'] = unsigned
        files[arch] = os.path.join(folder, f'{arch}.exe')
        sign(pki, unsigned, files[arch], 1_780_000_000)
    files['x64-resigned'] = os.path.join(folder, 'x64-resigned.exe')
    sign(pki, files['x64-unsigned'], files['x64-resigned'], 1_780_086_400)
    # Signed by a certificate no CA vouches for (the test TLS certificate nothing trusts).
    files['x64-stranger'] = os.path.join(folder, 'x64-stranger.exe')
    sign(pki, files['x64-unsigned'], files['x64-stranger'], 1_780_000_000, signer='untrusted')
    for arch in ('x64', 'arm64'):
        for stamped in (False, True):
            files[f'{arch}-expiring{"-stamped" * stamped}'] = target = os.path.join(
                folder, f'{arch}-expiring{"-stamped" * stamped}.exe')
            sign(pki, files[f'{arch}-unsigned'], target, 1_780_000_000, signer='codesign-expiring', timestamp=stamped)
    files['x64-short'] = os.path.join(folder, 'x64-short.exe')
    with open(files['x64'], 'rb') as source, open(files['x64-short'], 'wb') as out:
        out.write(source.read(os.path.getsize(files['x64']) - 100_000))
    return files


def pin(path):
    return {'size': os.path.getsize(path), 'sha256': sha256_of(path)}


def free_port():
    return int(subprocess.run([FREE_PORT], stdout=subprocess.PIPE, text=True, check=True).stdout)


# Each row: what the site serves per architecture (a key of make_installers, or None for no file), what
# the release pinned (default: the published file), the certificate, directives added to the sample's
# server block, release-check's own arguments and setup's signature as release.json records it (default:
# unsigned), and what release-check must say: its exit code, per architecture (status, SHA-256 column,
# signature column, result, reason fragments), and how many requests nginx may see.
EXPIRING = {'x64': 'x64-expiring', 'arm64': 'arm64-expiring'}
STAMPED = {'x64': 'x64-expiring-stamped', 'arm64': 'arm64-expiring-stamped'}
DATED = 'not time-stamped: setup will refuse this installer from '
SETUP_END = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=100)
SETUP_SIGNATURE = {'subject': '/O=Lumivance Test/CN=Lumivance Test Code Signing (expiring)', 'serial': '01',
                   'not_after': f'{SETUP_END:%Y-%m-%dT%H:%M:%SZ}', 'timestamp': None}
ROWS = [
    dict(name='the right files', serve={'x64': 'x64', 'arm64': 'arm64'}, exit=0, requests=2,
         expect={'x64': ('200', 'ok', 'ok', 'OK', []), 'arm64': ('200', 'ok', 'ok', 'OK', [])}),
    dict(name='x64 re-signed after the pins were taken', serve={'x64': 'x64-resigned', 'arm64': 'arm64'},
         exit=1, requests=2,
         expect={'x64': ('200', 'DIFFERS', 'ok', 'WRONG', ['its SHA-256 is', 'not the file this setup was built for']),
                 'arm64': ('200', 'ok', 'ok', 'OK', [])}),
    dict(name='x64 cut short on the host', serve={'x64': 'x64-short', 'arm64': 'arm64'}, exit=1, requests=2,
         expect={'x64': ('200', 'DIFFERS', 'BAD', 'WRONG', ['bytes, pinned', 'The download is incomplete']),
                 'arm64': ('200', 'ok', 'ok', 'OK', [])}),
    dict(name='arm64 missing', serve={'x64': 'x64', 'arm64': None}, exit=1, requests=2,
         expect={'x64': ('200', 'ok', 'ok', 'OK', []),
                 'arm64': ('404', '-', '-', 'WRONG', ['404 Not Found', 'temporarily unavailable'])}),
    dict(name='x64 redirected', serve={'x64': 'x64', 'arm64': 'arm64'}, exit=1, requests=2,
         extra=['location = /downloads/win/x64/LumivanceSetup-0.3.20.exe {'
                ' return 302 /downloads/win/x64/LumivanceSetup-0.3.21.exe; }'],
         expect={'x64': ('302', '-', '-', 'WRONG', ['a redirect to', 'LumivanceSetup-0.3.21.exe', 'never follows']),
                 'arm64': ('200', 'ok', 'ok', 'OK', [])}),
    dict(name='a certificate the CA does not trust', serve={'x64': 'x64', 'arm64': 'arm64'}, cert='untrusted',
         exit=1, requests=0,
         expect={'x64': ('-', '-', '-', 'WRONG', ['certificate is not trusted', 'interrupted']),
                 'arm64': ('-', '-', '-', 'WRONG', ['certificate is not trusted'])}),
    dict(name='pinned to an unsigned build', serve={'x64': 'x64-unsigned', 'arm64': 'arm64'},
         pins={'x64': 'x64-unsigned'}, exit=1, requests=2,
         expect={'x64': ('200', 'ok', 'BAD', 'WRONG', ['no Authenticode signature']),
                 'arm64': ('200', 'ok', 'ok', 'OK', [])}),
    dict(name='pinned to a build signed by a certificate the CA does not vouch for',
         serve={'x64': 'x64-stranger', 'arm64': 'arm64'}, pins={'x64': 'x64-stranger'}, exit=1, requests=2,
         expect={'x64': ('200', 'ok', 'BAD', 'WRONG', ['does not lead to a trusted CA']),
                 'arm64': ('200', 'ok', 'ok', 'OK', [])}),
    # Signed without a time stamp by a certificate that ends within the horizon: a dated failure, though
    # every byte is right today; the same files time-stamped are fine, and so is a shorter horizon.
    dict(name='installers not time-stamped, their certificate ending within the horizon', serve=EXPIRING,
         pins=EXPIRING, exit=1, requests=2,
         expect={arch: ('200', 'ok', 'DATED', 'WRONG', [DATED, 'when its signing certificate expires'])
                 for arch in EXPIRING}),
    dict(name='the same installers time-stamped', serve=STAMPED, pins=STAMPED, exit=0, requests=2,
         expect={arch: ('200', 'ok', 'ok', 'OK', []) for arch in STAMPED}),
    dict(name='installers not time-stamped, their certificate ending after the horizon', serve=EXPIRING,
         pins=EXPIRING, args=['--horizon', '20'], exit=0, requests=2,
         expect={arch: ('200', 'ok', 'ok', 'OK', []) for arch in EXPIRING}),
    dict(name='setup itself signed without a time stamp, its certificate ending within the horizon',
         serve=STAMPED, pins=STAMPED, setup=SETUP_SIGNATURE, exit=1, requests=2,
         expect={arch: ('200', 'ok', 'ok', 'OK', []) for arch in STAMPED},
         output=[f'not time-stamped: Windows will show an unknown publisher for this setup from {SETUP_END:%Y-%m-%d}',
                 'Not ready to ship: setup\'s own signature']),
    # Stopped while the first body streams in (the host slowed to 256 KB/s): the partial file goes too.
    dict(name='stopped mid-download', serve={'x64': 'x64', 'arm64': 'arm64'}, extra=['limit_rate 256k;'],
         interrupt=True, exit=143, requests=None, expect={}),
]


def parse_rows(output):
    """release-check's table: {arch: (status, size, digest, signature, result, [reasons])}."""
    rows, current = {}, None
    for line in output.splitlines():
        match = ROW_LINE.match(line)
        if match:
            current = match.group(1)
            rows[current] = match.groups()[1:] + ([],)
        elif current and line.startswith('         - '):
            rows[current][5].append(line[len('         - '):])
    return rows


def run_row(row, files, pki, scratch):
    """The problems found with one row, as sentences; empty when release-check said what it should."""
    site = tempfile.mkdtemp(dir=scratch, prefix='site-')
    for arch, key in row['serve'].items():
        folder = os.path.join(site, os.path.dirname(PATHS[arch]).lstrip('/'))
        os.makedirs(folder, exist_ok=True)
        if key:
            shutil.copyfile(files[key], os.path.join(folder, os.path.basename(PATHS[arch])))
    subprocess.run(['chmod', '-R', 'a+rX', scratch], check=True)

    port = free_port()
    pins = {arch: row.get('pins', {}).get(arch, arch) for arch in PATHS}
    signature = row.get('setup')
    release = {'host': 'localhost', 'port': port,
               'architectures': {arch: dict(path=PATHS[arch], **pin(files[pins[arch]])) for arch in PATHS},
               'setup': {'file': 'LumivanceWebSetup.exe', 'size': 1, 'sha256': '0' * 64,
                         'signed': signature is not None, 'signature': signature}}
    release_json = os.path.join(site, 'release.json')
    with open(release_json, 'w', encoding='utf-8') as out:
        json.dump(release, out)
    private_tmp = tempfile.mkdtemp(dir=scratch, prefix='tmp-')
    nginx_dir = os.path.join(site, 'nginx')
    cert = row.get('cert', 'server')
    command = [NGINX_HOST, '--root', site, '--port', str(port), '--dir', nginx_dir,
               '--cert', f'{pki}/{cert}.crt', '--key', f'{pki}/{cert}.key']
    for extra in row.get('extra', []):
        command += ['--extra', extra]
    command += ['--', RELEASE_CHECK, '--ca', f'{pki}/root.crt', *row.get('args', []), release_json]
    with subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          env=dict(os.environ, TMPDIR=private_tmp)) as process:
        if row.get('interrupt'):
            deadline = time.monotonic() + 20
            while not any(files for _, _, files in os.walk(private_tmp)) and time.monotonic() < deadline:
                time.sleep(0.02)
            process.terminate()
        try:
            output, _ = process.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            process.kill()
            output, _ = process.communicate()
    result = subprocess.CompletedProcess(command, process.returncode, output)
    if result.returncode < 0:
        result.returncode = 128 - result.returncode

    problems = []
    if result.returncode != row['exit']:
        problems.append(f'exit code {result.returncode}, expected {row["exit"]}')
    table = parse_rows(result.stdout)
    for arch, (status, digest, signature, verdict, fragments) in row['expect'].items():
        if arch not in table:
            problems.append(f'no {arch} row')
            continue
        got_status, _, got_digest, got_signature, got_verdict, reasons = table[arch]
        if (got_status, got_digest, got_signature, got_verdict) != (status, digest, signature, verdict):
            problems.append(f'{arch}: status/digest/signature/result {got_status}/{got_digest}/{got_signature}/'
                            f'{got_verdict}, expected {status}/{digest}/{signature}/{verdict}')
        for fragment in fragments:
            if not any(fragment in reason for reason in reasons):
                problems.append(f'{arch}: no reason says "{fragment}"')
        if verdict == 'OK' and reasons:
            problems.append(f'{arch}: reasons given for a right row: {reasons}')
    for fragment in row.get('output', []):
        if fragment not in result.stdout:
            problems.append(f'the output does not say "{fragment}"')
    with open(os.path.join(nginx_dir, 'access.log'), encoding='utf-8') as log:
        requests = log.read().splitlines()
    if row['requests'] is not None and len(requests) != row['requests']:
        problems.append(f'{len(requests)} requests reached nginx, expected {row["requests"]}: {requests}')
    for line, arch in zip(requests, PATHS):
        if not line.startswith(f'"GET {PATHS[arch]} HTTP/1.1" ') or '"Lumivance Installer/1"' not in line:
            problems.append(f'not setup\'s request for {arch}: {line}')
    if os.listdir(private_tmp):
        problems.append(f'left behind in its temporary folder: {os.listdir(private_tmp)}')
    if problems:
        problems.append('its output was:\n' + result.stdout)
    return problems


def refuses_missing_download_facts(scratch):
    """release-check beside a catalogue that lacks one of setup's sentences: it must stop, naming it, rather
    than judge a host by a sentence setup no longer has. Problems, as sentences."""
    tree = os.path.join(scratch, 'tree')
    os.makedirs(os.path.join(tree, 'res'))
    shutil.copytree(os.path.join(ROOT, 'scripts'), os.path.join(tree, 'scripts'),
                    ignore=shutil.ignore_patterns('__pycache__'))
    with open(os.path.join(ROOT, 'res', 'catalogue.json'), encoding='utf-8') as source:
        catalogue = json.load(source)
    if 'kDownloadIncomplete' not in catalogue.get('sentences', {}):
        return ['res/catalogue.json has no kDownloadIncomplete to remove']
    catalogue['sentences']['kDownloadIncompleteText'] = catalogue['sentences'].pop('kDownloadIncomplete')
    with open(os.path.join(tree, 'res', 'catalogue.json'), 'w', encoding='utf-8') as out:
        json.dump(catalogue, out, ensure_ascii=False, indent=2)
    result = subprocess.run([os.path.join(tree, 'scripts', 'release-check'), os.path.join(scratch, 'none.json')],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=False)
    if result.returncode != 2 or 'has no kDownloadIncomplete' not in result.stderr:
        return [f'exit code {result.returncode} and {result.stderr.strip()!r}, expected 2 naming kDownloadIncomplete']
    return []


class ReleaseCheck(unittest.TestCase):
    pki = None  # the test PKI's folder, from the command line

    @classmethod
    def setUpClass(cls):
        scratch = tempfile.TemporaryDirectory(prefix='lumivance-release-check-test-')
        cls.addClassCleanup(scratch.cleanup)
        cls.scratch = scratch.name
        cls.files = make_installers(cls.pki, cls.scratch)

    def test_reports_every_way_the_host_differs_from_the_pins(self):
        for row in ROWS:
            with self.subTest(row['name']):
                problems = run_row(row, self.files, self.pki, self.scratch)
                self.assertFalse(problems, '\n'.join(problems))

    def test_stops_without_one_of_setups_sentences(self):
        problems = refuses_missing_download_facts(self.scratch)
        self.assertFalse(problems, '\n'.join(problems))


if __name__ == '__main__':
    if len(sys.argv) != 2 or not os.path.isfile(os.path.join(sys.argv[1], 'root.crt')) or \
            'LUMIVANCE_TSA_URL' not in os.environ:
        print('usage: tools/tsa-server --pki PKI_DIR -- release_check_test.py PKI_DIR (made by tools/make-test-pki)',
              file=sys.stderr)
        sys.exit(2)
    ReleaseCheck.pki = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
