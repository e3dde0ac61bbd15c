#!/usr/bin/python3
"""scripts/sign-setup as a publisher runs it: from a PKCS#11 token, from key files and from a .pfx, always
time-stamped unless told otherwise, and every bad input refused with one line and nothing left behind.

    sign_setup_test.py PKI_DIR TOKEN_DIR [SETUP_EXE]   (under tools/tsa-server, which gives LUMIVANCE_TSA_URL)

Each row signs SETUP_EXE, or without it a small PE file. A signed row checks that the signature verifies
against the test root now, and at a time a day after its certificate (the test PKI's expiring one) has
ended: only a time-stamped signature still verifies then. A refused row checks the exit code, that the error is one line naming the
problem, and that neither the output nor any file of sign-setup's own is left in the folder, though an
older signed file was there before. No row may print the PIN. Exits non-zero naming every row that failed.
"""

import datetime
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIGN_SETUP = os.path.join(ROOT, 'scripts', 'sign-setup')
TSA_SERVER = os.path.join(ROOT, 'tools', 'tsa-server')
sys.path.insert(0, os.path.join(ROOT, 'tests', 'release_check'))
from release_check_test import minimal_pe  # noqa: E402 (after the path it comes from)

MODULE = '/usr/lib/softhsm/libsofthsm2.so'
TOKEN_KEY = 'pkcs11:token=lumivance-test;object=codesign-expiring;type=private'
UNREACHABLE = 'http://127.0.0.1:9/'   # the discard port: nothing listens there

# Each row: its name, sign-setup's arguments after IN OUT ({pki}, {token}, {tsa}, {work} filled in),
# whether the loopback authority refuses, and what must come of it: 'stamped' (verifies after the
# certificate's end), 'unstamped' (verifies now, not after) or the fragment the one error line must hold.
TOKEN = ['--cert', '{pki}/codesign-expiring.crt', '--pkcs11-module', MODULE, '--key', TOKEN_KEY,
         '--pass-file', '{token}/pin']
ROWS = [
    ('from the token, the second authority answering', TOKEN + ['--timestamp', UNREACHABLE, '--timestamp', '{tsa}'],
     False, 'stamped'),
    ('from key files', ['--cert', '{pki}/codesign-expiring.crt', '--key', '{pki}/codesign-expiring.key',
                        '--timestamp', '{tsa}'], False, 'stamped'),
    ('from a .pfx opened by its pass file', ['--pkcs12', '{work}/codesign.pfx', '--pass-file', '{work}/pfx-pass',
                                             '--timestamp', '{tsa}'], False, 'stamped'),
    ('without a time stamp, on purpose', TOKEN + ['--no-timestamp'], False, 'unstamped'),
    ('neither a time stamp nor --no-timestamp', TOKEN, False, 'give --timestamp URL'),
    ('a wrong PIN', TOKEN[:-1] + ['{work}/wrong-pin', '--timestamp', '{tsa}'], False, 'the token refused the PIN'),
    ('a missing module', ['--cert', '{pki}/codesign-expiring.crt', '--pkcs11-module', '{work}/none.so', '--key',
                          TOKEN_KEY, '--pass-file', '{token}/pin', '--timestamp', '{tsa}'], False,
     'no PKCS#11 module at'),
    ('a key URI that matches nothing', ['--cert', '{pki}/codesign-expiring.crt', '--pkcs11-module', MODULE, '--key',
                                        'pkcs11:token=lumivance-test;object=nobody;type=private', '--pass-file',
                                        '{token}/pin', '--timestamp', '{tsa}'], False,
     'no private key on the token matches pkcs11:token=lumivance-test;object=nobody'),
    ('a certificate that is not the key\'s', ['--cert', '{pki}/codesign.crt'] + TOKEN[2:] + ['--timestamp', '{tsa}'],
     False, 'does not belong to the key'),
    ('the only authority unreachable', TOKEN + ['--timestamp', UNREACHABLE], False,
     f'no time-stamp authority answered: {UNREACHABLE} (Connection refused)'),
    ('the authority refusing', TOKEN + ['--timestamp', '{tsa}'], True, 'code=503'),
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


def run_row(row, pki, token, work, pin):
    name, arguments, refuse, expected = row
    folder = tempfile.mkdtemp(dir=work, prefix='row-')
    source, target = os.path.join(work, 'setup.exe'), os.path.join(folder, 'signed.exe')
    with open(target, 'wb') as out:
        out.write(b'an older signed setup')
    filled = [argument.format(pki=pki, token=token, tsa=os.environ['LUMIVANCE_TSA_URL'], work=work)
              for argument in arguments]
    command = [SIGN_SETUP, source, target] + filled
    if refuse:
        command = [TSA_SERVER, '--pki', pki, '--refuse', '--'] + [
            '@TSA_URL@' if argument == os.environ['LUMIVANCE_TSA_URL'] else argument for argument in command]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=False,
                            env=dict(os.environ, SOFTHSM2_CONF=f'{token}/softhsm2.conf'))
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


def main(argv):
    if len(argv) not in (2, 3) or 'LUMIVANCE_TSA_URL' not in os.environ:
        print('usage: tools/tsa-server --pki PKI_DIR -- sign_setup_test.py PKI_DIR TOKEN_DIR [SETUP_EXE]',
              file=sys.stderr)
        return 2
    pki, token = (os.path.realpath(folder) for folder in argv[:2])
    with open(f'{token}/pin', encoding='utf-8') as source:
        pin = source.read().strip()
    with tempfile.TemporaryDirectory(prefix='lumivance-sign-setup-test-') as work:
        if len(argv) == 3:
            shutil.copyfile(argv[2], os.path.join(work, 'setup.exe'))
        else:
            with open(os.path.join(work, 'setup.exe'), 'wb') as out:
                out.write(minimal_pe(os.urandom(4096)))
        with open(os.path.join(work, 'wrong-pin'), 'w', encoding='utf-8') as out:
            out.write('0000')
        with open(os.path.join(work, 'pfx-pass'), 'w', encoding='utf-8') as out:
            out.write('pfx pass phrase')
        subprocess.run(['openssl', 'pkcs12', '-export', '-in', f'{pki}/codesign-expiring.crt', '-inkey',
                        f'{pki}/codesign-expiring.key', '-passout', f'file:{work}/pfx-pass',
                        '-out', f'{work}/codesign.pfx'], check=True)
        failed = 0
        for row in ROWS:
            problems = run_row(row, pki, token, work, pin)
            print(f'{"ok  " if not problems else "FAIL"} {row[0]}')
            for problem in problems:
                print(f'     {problem}')
            failed += bool(problems)
    print(f'{len(ROWS) - failed} of {len(ROWS)} rows as expected')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
