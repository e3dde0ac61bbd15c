#!/usr/bin/python3
"""signature_facts.py FILE

What an exe's Authenticode signature says about its future: the signer, the certificate's serial and end
date, and the time stamp (when, and by which authority), as JSON on stdout; `null` for a file that carries
no signature at all. scripts/release records these in release.json and warns about the installers it pins;
scripts/release-check judges them.

The facts are read from the signature itself: the PE's certificate table (pefile), and the PKCS#7
SignedData in it with its RFC 3161 time-stamp token or legacy countersignature (asn1crypto). A certificate
table that is there but cannot be read (cut short, not PKCS#7, no signer) is exit 2 with a sentence: such a
file is not "unsigned", and taking it for one would hide a signature that expires soon. Only whether the
chain verifies is osslsigncode's to say (verify).
"""

import datetime
import json
import subprocess
import sys

import pefile
from asn1crypto import cms, tsp  # noqa: F401 (tsp teaches cms the RFC 3161 token's content)

PLATFORM_CA_BUNDLE = '/etc/ssl/certs/ca-certificates.crt'
# How far ahead an untime-stamped signature's end counts as a failure (release-check --horizon).
DEFAULT_HORIZON_DAYS = 365
# What an untime-stamped signature's end means, said of an installer setup pins and of setup itself.
INSTALLER_CONSEQUENCE = ('setup will refuse this installer', 'setup refuses this installer')
SETUP_CONSEQUENCE = ('Windows will show an unknown publisher for this setup',
                     'Windows shows an unknown publisher for this setup')
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
WIN_CERTIFICATE_HEADER = 8
# OpenSSL's short names, so that a subject reads as osslsigncode and openssl print it.
SHORT_NAMES = {'2.5.4.3': 'CN', '2.5.4.6': 'C', '2.5.4.7': 'L', '2.5.4.8': 'ST', '2.5.4.10': 'O', '2.5.4.11': 'OU',
               '2.5.4.5': 'serialNumber', '1.2.840.113549.1.9.1': 'emailAddress'}


class SignatureUnreadable(Exception):
    """The file has a certificate table, but no signature can be read from it."""


def iso(moment):
    return moment.astimezone(datetime.timezone.utc).strftime('%Y-%m-%dT%H:%M:%SZ')


def subject_line(name):
    """'/O=Lumivance Test/CN=Lumivance Test Code Signing', as OpenSSL writes a name on one line."""
    parts = []
    for rdn in name.chosen:
        for attribute in rdn:
            key = SHORT_NAMES.get(attribute['type'].dotted, attribute['type'].dotted)
            parts.append(f'/{key}={attribute["value"].native}')
    return ''.join(parts)


def serial_hex(number):
    text = f'{number:X}'
    return text.rjust(len(text) + len(text) % 2, '0')


def certificate_table(path):
    """The PKCS#7 bytes of the PE's first certificate, or None when the PE has no certificate table."""
    try:
        pe = pefile.PE(path, fast_load=True)
    except (OSError, pefile.PEFormatError) as error:
        raise SignatureUnreadable(f'{path} is not a PE file pefile can read ({error})') from error
    try:
        directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_SECURITY']]
        offset, size = directory.VirtualAddress, directory.Size  # a file offset, for this directory alone
        image = pe.__data__
        if offset == 0 and size == 0:
            return None
        if size < WIN_CERTIFICATE_HEADER or offset + size > len(image):
            raise SignatureUnreadable(f'the certificate table of {path} ({size} bytes at offset {offset}) does not '
                                      f'fit in the file\'s {len(image)} bytes: the file was cut short')
        length = int.from_bytes(image[offset:offset + 4], 'little')
        kind = int.from_bytes(image[offset + 6:offset + 8], 'little')
        if not WIN_CERTIFICATE_HEADER < length <= size:
            raise SignatureUnreadable(f'the first certificate of {path} claims {length} bytes in a table of {size}')
        if kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA:
            raise SignatureUnreadable(f'the first certificate of {path} is of type {kind}, not PKCS#7 SignedData')
        return bytes(image[offset + WIN_CERTIFICATE_HEADER:offset + length])
    finally:
        pe.close()


def find_certificate(certificates, signer_id):
    """The certificate a SignerInfo names by issuer and serial number."""
    if signer_id.name != 'issuer_and_serial_number':
        raise SignatureUnreadable('a signer is named by key identifier, which these tools do not read')
    wanted = signer_id.chosen
    for choice in certificates or []:
        if choice.name != 'certificate':
            continue
        certificate = choice.chosen
        if (certificate.serial_number == wanted['serial_number'].native and
                certificate.issuer == wanted['issuer']):
            return certificate
    raise SignatureUnreadable(f'the certificate of signer {serial_hex(wanted["serial_number"].native)} is not in '
                              'the signature')


def attribute_values(attributes, name):
    for attribute in attributes or []:
        if attribute['type'].native == name:
            return attribute['values']
    return []


def time_stamp(signed_data, signer):
    """(time, authority) of the signature's time stamp, or None: the RFC 3161 token osslsigncode and
    signtool /tr write (Microsoft's unsigned attribute 1.3.6.1.4.1.311.3.3.1), else the legacy
    PKCS#9 countersignature (signtool /t)."""
    for token in attribute_values(signer['unsigned_attrs'], 'microsoft_time_stamp_token'):
        stamp = token['content']
        info = stamp['encap_content_info']['content'].parsed
        if not isinstance(info, tsp.TSTInfo):
            raise SignatureUnreadable('the time-stamp token holds no RFC 3161 TSTInfo')
        authority = find_certificate(stamp['certificates'], stamp['signer_infos'][0]['sid'])
        return info['gen_time'].native, subject_line(authority.subject)
    for counter in attribute_values(signer['unsigned_attrs'], 'counter_signature'):
        times = attribute_values(counter['signed_attrs'], 'signing_time')
        if not times:
            raise SignatureUnreadable('the countersignature carries no signing time')
        authority = find_certificate(signed_data['certificates'], counter['sid'])
        return times[0].native, subject_line(authority.subject)
    return None


def facts_from_signature(data):
    """The facts of one DER PKCS#7 SignedData: a dict, times ISO 8601 in UTC; timestamp is None when the
    signature is not time-stamped."""
    try:
        content = cms.ContentInfo.load(data)
        if content['content_type'].native != 'signed_data':
            raise SignatureUnreadable(f'the certificate table holds {content["content_type"].native}, not SignedData')
        signed_data = content['content']
        if len(signed_data['signer_infos']) == 0:
            raise SignatureUnreadable('the signature has no signer')
        signer = signed_data['signer_infos'][0]
        certificate = find_certificate(signed_data['certificates'], signer['sid'])
        stamp = time_stamp(signed_data, signer)
        return {'subject': subject_line(certificate.subject), 'serial': serial_hex(certificate.serial_number),
                'not_after': iso(certificate['tbs_certificate']['validity']['not_after'].native),
                'timestamp': {'time': iso(stamp[0]), 'authority': stamp[1]} if stamp else None}
    except (ValueError, TypeError, KeyError, IndexError, AttributeError, OverflowError) as error:
        # asn1crypto parses lazily: a truncated or malformed DER shows itself only when a field is read.
        raise SignatureUnreadable(f'the signature is not well-formed PKCS#7 ({error})') from error


def facts(file):
    """The facts of FILE's Authenticode signature, None when it has no certificate table; raises
    SignatureUnreadable when it has one that cannot be read."""
    data = certificate_table(file)
    if data is None:
        return None
    try:
        return facts_from_signature(data)
    except SignatureUnreadable as error:
        raise SignatureUnreadable(f'{file}: {error}') from error


def verify(file, ca_file=None):
    """osslsigncode's verification against the trusted CAs (the same file for signers and authorities):
    (exit code, output)."""
    ca = ca_file or PLATFORM_CA_BUNDLE
    result = subprocess.run(['osslsigncode', 'verify', '-in', file, '-CAfile', ca, '-TSA-CAfile', ca],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    return result.returncode, result.stdout


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
    if len(argv) != 1:
        print('usage: signature_facts.py FILE', file=sys.stderr)
        return 2
    try:
        print(json.dumps(facts(argv[0])))
    except SignatureUnreadable as error:
        print(f'signature_facts: cannot read the signature\'s facts: {error}', file=sys.stderr)
        return 2
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
