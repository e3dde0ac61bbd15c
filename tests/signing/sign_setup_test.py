#!/usr/bin/python3
"""scripts/sign-setup as a publisher runs it: from a PKCS#11 token, from key files and from a .pfx, always
time-stamped unless told otherwise, and every bad input refused with one line and nothing left behind.

    sign_setup_test.py PKI_DIR TOKEN_DIR [SETUP_EXE]   (under tools/tsa-server, which gives LUMIVANCE_TSA_URL)

Each row signs SETUP_EXE, or without it a small PE file. A signed row checks that the signature verifies
against the test root now, and at a time a day after its certificate (the test PKI's expiring one) has
ended: only a time-stamped signature still verifies then. A refused row checks the exit code, that the
error is one line naming the problem, and that neither the output nor any file of sign-setup's own is left
in the folder, though an older signed file was there before. No row may print the PIN. A signed row also reads the signature's facts
(scripts/signature_facts.py) and checks them against the certificate and the authority that made it.

Then signature_facts on files a publisher's tools meet: the setup unsigned, and signed but cut short, either
in the file or inside the PKCS#7 itself; a cut signature must be an error (exit 2), never "unsigned", or
release-check would pass a signature it cannot see expiring. A unittest: each row is a subTest, and it
exits non-zero naming every row that went wrong.
"""

import datetime
import os
import json
import shutil
import subprocess
import sys
import tempfile
import unittest

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIGN_SETUP = os.path.join(ROOT, 'scripts', 'sign-setup')
TSA_SERVER = os.path.join(ROOT, 'tools', 'tsa-server')
sys.dont_write_bytecode = True   # the modules below are the source tree's: nothing of ours goes into it
sys.path.insert(0, os.path.join(ROOT, 'tests', 'release_check'))
from release_check_test import minimal_pe  # noqa: E402 (after the path it comes from)
sys.path.insert(0, os.path.join(ROOT, 'scripts'))
import signature_facts  # noqa: E402

MODULE = '/usr/lib/softhsm/libsofthsm2.so'
TOKEN_KEY = 'pkcs11:token=lumivance-test;object=codesign-expiring;type=private'
UNREACHABLE = 'http://127.0.0.1:9/'   # the discard port: nothing listens there
SIGNER = '/O=Lumivance Test/CN=Lumivance Test Code Signing (expiring)'
AUTHORITY = '/O=Lumivance Test/CN=Lumivance Test Time Stamping'
SIGNATURE_FACTS = os.path.join(ROOT, 'scripts', 'signature_facts.py')

# Each row: its name, sign-setup's arguments after IN OUT ({pki}, {token}, {tsa}, {work} filled in),
# what else holds (REFUSING: the loopback authority refuses; WORDLESS: osslsigncode's messages say nothing,
# as another version of it words them otherwise, so sign-setup's reason must not come from them), and
# what must come of it: 'stamped' (verifies after the
# certificate's end), 'unstamped' (verifies now, not after) or the fragment the one error line must hold.
TOKEN = ['--cert', '{pki}/codesign-expiring.crt', '--pkcs11-module', MODULE, '--key', TOKEN_KEY,
         '--pass-file', '{token}/pin']
REFUSING, WORDLESS = 'refusing', 'wordless'
ROWS = [
    ('from the token, the second authority answering', TOKEN + ['--timestamp', UNREACHABLE, '--timestamp', '{tsa}'],
     (), 'stamped'),
    ('from key files', ['--cert', '{pki}/codesign-expiring.crt', '--key', '{pki}/codesign-expiring.key',
                        '--timestamp', '{tsa}'], (), 'stamped'),
    ('from a .pfx opened by its pass file', ['--pkcs12', '{work}/codesign.pfx', '--pass-file', '{work}/pfx-pass',
                                             '--timestamp', '{tsa}'], (), 'stamped'),
    ('without a time stamp, on purpose', TOKEN + ['--no-timestamp'], (), 'unstamped'),
    ('neither a time stamp nor --no-timestamp', TOKEN, (), 'give --timestamp URL'),
    ('a wrong PIN', TOKEN[:-1] + ['{work}/wrong-pin', '--timestamp', '{tsa}'], (), 'the token refused the PIN'),
    ('a missing module', ['--cert', '{pki}/codesign-expiring.crt', '--pkcs11-module', '{work}/none.so', '--key',
                          TOKEN_KEY, '--pass-file', '{token}/pin', '--timestamp', '{tsa}'], (),
     'no PKCS#11 module at'),
    ('a key URI that matches nothing', ['--cert', '{pki}/codesign-expiring.crt', '--pkcs11-module', MODULE, '--key',
                                        'pkcs11:token=lumivance-test;object=nobody;type=private', '--pass-file',
                                        '{token}/pin', '--timestamp', '{tsa}'], (),
     'no private key on the token matches pkcs11:token=lumivance-test;object=nobody'),
    ('a certificate that is not the key\'s', ['--cert', '{pki}/codesign.crt'] + TOKEN[2:] + ['--timestamp', '{tsa}'],
     (), 'does not belong to the key'),
    ('the only authority unreachable, whatever osslsigncode says', TOKEN + ['--timestamp', UNREACHABLE],
     {WORDLESS}, f'no time-stamp authority answered: {UNREACHABLE} (Connection refused)'),
    ('the authority refusing, whatever osslsigncode says', TOKEN + ['--timestamp', '{tsa}'], {REFUSING, WORDLESS},
     '(HTTP 503 Service Unavailable)'),
]


def certificate_end(path):
    text = subprocess.run(['openssl', 'x509', '-in', path, '-noout', '-enddate'], check=True,
                          stdout=subprocess.PIPE, text=True).stdout
    end = datetime.datetime.strptime(text.strip().split('=', 1)[1], '%b %d %H:%M:%S %Y %Z')
    return int(end.replace(tzinfo=datetime.timezone.utc).timestamp())


def verifies(pki, path, at=None):
    command = ['osslsigncode', 'verify', '-CAfile', f'{pki}/root.crt', '-TSA-CAfile', f'{pki}/root.crt', '-in', path]
    if at is not None:
        command += ['-time', str(at)]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    return result.returncode == 0 and 'Succeeded' in result.stdout


def facts_problems(pki, path, stamped):
    """The facts signature_facts reads from the signature, against the certificate that signed it and the
    loopback authority that stamped it (within the last ten minutes)."""
    facts = signature_facts.facts(path)
    end = datetime.datetime.fromtimestamp(certificate_end(f'{pki}/codesign-expiring.crt'), datetime.timezone.utc)
    problems = []
    if facts is None or facts['subject'] != SIGNER or facts['not_after'] != f'{end:%Y-%m-%dT%H:%M:%SZ}':
        problems.append(f'signature_facts read {facts}, not the signer {SIGNER} ending {end:%Y-%m-%dT%H:%M:%SZ}')
    elif not stamped and facts['timestamp'] is not None:
        problems.append(f'signature_facts found a time stamp where there is none: {facts["timestamp"]}')
    elif stamped:
        stamp = facts['timestamp'] or {}
        when = datetime.datetime.strptime(stamp.get('time', '1970-01-01T00:00:00Z'), '%Y-%m-%dT%H:%M:%SZ')
        age = datetime.datetime.utcnow() - when
        if stamp.get('authority') != AUTHORITY or not datetime.timedelta(minutes=-1) < age < datetime.timedelta(
                minutes=10):
            problems.append(f'signature_facts read the time stamp {stamp}, not one by {AUTHORITY} just now')
    return problems


def cut_inside_signature(signed, target):
    """The signed file with its certificate table kept whole in size and place, but the PKCS#7 in it cut to
    half: the PE is well-formed, its signature is not."""
    with open(signed, 'rb') as source:
        pe = pefile.PE(data=source.read(), fast_load=True)
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_SECURITY']]
    table = directory.VirtualAddress   # a file offset, unlike every other directory's
    length = pe.get_dword_from_offset(table)   # the WIN_CERTIFICATE's dwLength, its header included
    cut = 8 + (length - 8) // 2
    padded = (cut + 7) & ~7
    pe.set_dword_at_offset(table, cut)
    directory.Size = padded
    with open(target, 'wb') as out:
        out.write(pe.write()[:table + cut] + b'\0' * (padded - cut))


# signature_facts.py on the setup unsigned, and signed (key files, time-stamped) then cut short. Each row: its
# name, the file (a name in the work folder), the exit code and what stdout must be, or the fragment stderr
# must hold.
FACTS_ROWS = [('the setup unsigned', 'setup.exe', 0, 'null'),
              ('the setup signed and time-stamped', 'facts-signed.exe', 0, None),
              ('the signed setup cut short in the file', 'cut-file.exe', 2, 'does not fit in the file'),
              ('the signed setup with its PKCS#7 cut short inside a whole table', 'cut-der.exe', 2,
               'the signature is not well-formed PKCS#7')]


def facts_files(pki, work):
    """The files FACTS_ROWS names beside the setup: it signed, then cut short two ways."""
    source, signed = os.path.join(work, 'setup.exe'), os.path.join(work, 'facts-signed.exe')
    subprocess.run([SIGN_SETUP, source, signed, '--cert', f'{pki}/codesign-expiring.crt', '--key',
                    f'{pki}/codesign-expiring.key', '--timestamp', os.environ['LUMIVANCE_TSA_URL']], check=True)
    with open(signed, 'rb') as whole, open(os.path.join(work, 'cut-file.exe'), 'wb') as out:
        out.write(whole.read(os.path.getsize(signed) - 100))
    cut_inside_signature(signed, os.path.join(work, 'cut-der.exe'))


def facts_row_problems(pki, path, code, expected):
    result = subprocess.run([SIGNATURE_FACTS, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            check=False)
    problems = [] if result.returncode == code else [f'exit code {result.returncode}, expected {code}']
    if code == 2 and (result.stdout or expected not in result.stderr or
                      not result.stderr.startswith('signature_facts: cannot read the signature\'s facts: ')):
        problems.append(f'not the sentence "{expected}" alone: {result.stdout!r} {result.stderr!r}')
    elif code == 0 and expected and result.stdout.strip() != expected:
        problems.append(f'printed {result.stdout.strip()!r}, not {expected}')
    elif code == 0 and expected is None:
        problems += facts_problems(pki, path, stamped=True)
        if json.loads(result.stdout or 'null') != signature_facts.facts(path):
            problems.append(f'the command printed other facts than the module reads: {result.stdout!r}')
    return problems


def wordless_tool(work):
    """A folder whose osslsigncode is the real one with all it says thrown away."""
    folder = os.path.join(work, 'wordless')
    if not os.path.isdir(folder):
        os.mkdir(folder)
        with open(os.path.join(folder, 'osslsigncode'), 'w', encoding='utf-8') as out:
            out.write(f'#!/bin/sh\nexec {shutil.which("osslsigncode")} "$@" >/dev/null 2>&1\n')
        os.chmod(os.path.join(folder, 'osslsigncode'), 0o755)
    return folder


def run_row(row, pki, token, work, pin):
    name, arguments, conditions, expected = row
    folder = tempfile.mkdtemp(dir=work, prefix='row-')
    source, target = os.path.join(work, 'setup.exe'), os.path.join(folder, 'signed.exe')
    with open(target, 'wb') as out:
        out.write(b'an older signed setup')
    filled = [argument.format(pki=pki, token=token, tsa=os.environ['LUMIVANCE_TSA_URL'], work=work)
              for argument in arguments]
    command = [SIGN_SETUP, source, target] + filled
    env = dict(os.environ, SOFTHSM2_CONF=f'{token}/softhsm2.conf')
    if WORDLESS in conditions:
        env['PATH'] = f'{wordless_tool(work)}:{env["PATH"]}'
    if REFUSING in conditions:
        command = [TSA_SERVER, '--pki', pki, '--refuse', '--'] + [
            '@TSA_URL@' if argument == os.environ['LUMIVANCE_TSA_URL'] else argument for argument in command]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=False, env=env)
    problems = []
    if pin in result.stdout + result.stderr:
        problems.append('the PIN was printed')
    if expected in ('stamped', 'unstamped'):
        after_end = certificate_end(f'{pki}/codesign-expiring.crt') + 86400
        if result.returncode != 0:
            problems.append(f'exit code {result.returncode}, expected 0: {result.stderr.strip()}')
        elif not verifies(pki, target):
            problems.append('the signature does not verify against the test root')
        elif verifies(pki, target, at=after_end) != (expected == 'stamped'):
            problems.append('a day after the certificate ends it ' +
                            ('no longer verifies, though time-stamped' if expected == 'stamped' else
                             'still verifies, though not time-stamped'))
        if result.returncode == 0:
            problems += facts_problems(pki, target, expected == 'stamped')
        if os.listdir(folder) != ['signed.exe']:
            problems.append(f'left beside the output: {sorted(os.listdir(folder))}')
    else:
        lines = result.stderr.strip().splitlines()
        if result.returncode != 1:
            problems.append(f'exit code {result.returncode}, expected 1')
        if len(lines) != 1 or expected not in lines[0] or not lines[0].startswith('sign-setup: '):
            problems.append(f'not one line saying "{expected}": {result.stderr!r}')
        if os.listdir(folder):
            problems.append(f'left at the output path: {sorted(os.listdir(folder))}')
    return problems


class SignSetup(unittest.TestCase):
    pki = token = setup_exe = None   # from the command line; without setup_exe, a small PE file is signed
    longMessage = False   # a row's problems say it all; their list once more would only repeat them

    @classmethod
    def setUpClass(cls):
        work = tempfile.TemporaryDirectory(prefix='lumivance-sign-setup-test-')
        cls.addClassCleanup(work.cleanup)
        cls.work = work.name
        with open(f'{cls.token}/pin', encoding='utf-8') as source:
            cls.pin = source.read().strip()
        if cls.setup_exe:
            shutil.copyfile(cls.setup_exe, os.path.join(cls.work, 'setup.exe'))
        else:
            with open(os.path.join(cls.work, 'setup.exe'), 'wb') as out:
                out.write(minimal_pe(os.urandom(4096)))
        with open(os.path.join(cls.work, 'wrong-pin'), 'w', encoding='utf-8') as out:
            out.write('0000')
        with open(os.path.join(cls.work, 'pfx-pass'), 'w', encoding='utf-8') as out:
            out.write('pfx pass phrase')
        subprocess.run(['openssl', 'pkcs12', '-export', '-in', f'{cls.pki}/codesign-expiring.crt', '-inkey',
                        f'{cls.pki}/codesign-expiring.key', '-passout', f'file:{cls.work}/pfx-pass',
                        '-out', f'{cls.work}/codesign.pfx'], check=True)

    def test_signs_every_way_and_refuses_every_bad_input(self):
        for row in ROWS:
            with self.subTest(row[0]):
                problems = run_row(row, self.pki, self.token, self.work, self.pin)
                self.assertFalse(problems, '\n'.join(problems))

    def test_signature_facts_reads_a_whole_signature_and_refuses_a_cut_one(self):
        facts_files(self.pki, self.work)
        for name, file, code, expected in FACTS_ROWS:
            with self.subTest(name):
                problems = facts_row_problems(self.pki, os.path.join(self.work, file), code, expected)
                self.assertFalse(problems, '\n'.join(problems))


if __name__ == '__main__':
    if len(sys.argv) not in (3, 4) or 'LUMIVANCE_TSA_URL' not in os.environ:
        print('usage: tools/tsa-server --pki PKI_DIR -- sign_setup_test.py PKI_DIR TOKEN_DIR [SETUP_EXE]',
              file=sys.stderr)
        sys.exit(2)
    SignSetup.pki, SignSetup.token = (os.path.realpath(folder) for folder in sys.argv[1:3])
    SignSetup.setup_exe = sys.argv[3] if len(sys.argv) == 4 else None
    unittest.main(argv=sys.argv[:1], verbosity=2)
