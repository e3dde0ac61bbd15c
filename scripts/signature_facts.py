#!/usr/bin/python3
"""signature_facts.py FILE [--ca FILE]

What an exe's Authenticode signature says about its future: the signer, the certificate's serial and end
date, and the RFC 3161 time stamp (when, and by which authority), as JSON on stdout. scripts/release records
these in release.json and warns about the installers it pins; scripts/release-check judges them.

The facts are read from `osslsigncode verify`, which prints them whether or not the chain verifies.
"""

import datetime
import json
import re
import subprocess
import sys

PLATFORM_CA_BUNDLE = '/etc/ssl/certs/ca-certificates.crt'
# How far ahead an untime-stamped signature's end counts as a failure (release-check --horizon).
DEFAULT_HORIZON_DAYS = 365
# What an untime-stamped signature's end means, said of an installer setup pins and of setup itself.
INSTALLER_CONSEQUENCE = ('setup will refuse this installer', 'setup refuses this installer')
SETUP_CONSEQUENCE = ('Windows will show an unknown publisher for this setup',
                     'Windows shows an unknown publisher for this setup')
OPENSSL_TIME = '%b %d %H:%M:%S %Y %Z'
CERTIFICATE = re.compile(r'Subject: (?P<subject>.*)\n\s*Issuer : .*\n\s*Serial : (?P<serial>[0-9A-F]+)\n'
                         r'\s*Certificate expiration date:\n\s*notBefore : .*\n\s*notAfter : (?P<end>.*)')
COUNTERSIGNATURE = re.compile(r'Countersignatures:\n\s*Timestamp time: (?P<time>.*)\n(?:.*\n)*?\s*Serial: '
                              r'(?P<serial>[0-9A-F]+)')


def parse_time(text):
    """osslsigncode's 'Dec  9 04:17:34 2026 GMT' as an aware UTC datetime."""
    return datetime.datetime.strptime(' '.join(text.split()), OPENSSL_TIME).replace(tzinfo=datetime.timezone.utc)


def iso(moment):
    return moment.strftime('%Y-%m-%dT%H:%M:%SZ')


def verify(file, ca_file=None):
    """osslsigncode's verification against the trusted CAs (the same file for signers and authorities):
    (exit code, output)."""
    ca = ca_file or PLATFORM_CA_BUNDLE
    result = subprocess.run(['osslsigncode', 'verify', '-in', file, '-CAfile', ca, '-TSA-CAfile', ca],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    return result.returncode, result.stdout


def facts_from_output(output):
    """The signature's facts from osslsigncode's verify output, or None when the file carries none.
    Times are ISO 8601 in UTC; timestamp is None when the signature is not time-stamped."""
    if 'No signature found' in output or "Signer's certificate:" not in output:
        return None
    signer_part = output.split("Signer's certificate:", 1)[1]
    signer = CERTIFICATE.search(signer_part)
    if signer is None:
        return None
    facts = {'subject': signer['subject'].strip(), 'serial': signer['serial'],
             'not_after': iso(parse_time(signer['end'])), 'timestamp': None}
    stamp = COUNTERSIGNATURE.search(output)
    if stamp:
        # The authority is the certificate that signed the time stamp, listed wherever osslsigncode shows
        # the time stamp's chain.
        authority = next((match['subject'].strip() for match in CERTIFICATE.finditer(output)
                          if match['serial'] == stamp['serial']), f'the certificate with serial {stamp["serial"]}')
        facts['timestamp'] = {'time': iso(parse_time(stamp['time'])), 'authority': authority}
    return facts


def facts(file, ca_file=None):
    return facts_from_output(verify(file, ca_file)[1])


def expiry_reason(facts, horizon_days, consequence, now=None):
    """The plain reason a signature is a dated failure: not time-stamped, and its certificate ends within
    the horizon (or has ended). None when it is not one. consequence is (what will happen, what happens),
    for example ('setup will refuse this installer', 'setup refuses this installer')."""
    if facts is None or facts['timestamp'] is not None:
        return None
    end = datetime.datetime.strptime(facts['not_after'], '%Y-%m-%dT%H:%M:%SZ').replace(tzinfo=datetime.timezone.utc)
    now = now or datetime.datetime.now(datetime.timezone.utc)
    if end - now > datetime.timedelta(days=horizon_days):
        return None
    if end > now:
        return f'not time-stamped: {consequence[0]} from {end:%Y-%m-%d}, when its signing certificate expires'
    return f'not time-stamped: {consequence[1]} since {end:%Y-%m-%d}, when its signing certificate expired'


def describe(facts):
    """One line for a person: who signed, until when, and the time stamp."""
    if facts is None:
        return 'not signed'
    stamp = facts['timestamp']
    stamped = (f'time-stamped {stamp["time"]} by {stamp["authority"]}' if stamp else 'NOT time-stamped')
    return f'signed by {facts["subject"]}, certificate ends {facts["not_after"]}, {stamped}'


def main(argv):
    if len(argv) not in (1, 3) or (len(argv) == 3 and argv[1] != '--ca'):
        print('usage: signature_facts.py FILE [--ca FILE]', file=sys.stderr)
        return 2
    print(json.dumps(facts(argv[0], argv[2] if len(argv) == 3 else None)))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
