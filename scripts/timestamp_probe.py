#!/usr/bin/python3
"""timestamp_probe.py URL FILE

Asks the RFC 3161 time-stamping authority at URL for a time stamp of FILE's SHA-256, as a signing tool
does, and prints in a few words what came of it: the system's reason when nothing answered ("Connection
refused", "Name or service not known", …), the HTTP status when the authority turned the query down, or
"no time stamp in its answer". Exits 0 only when the authority granted a time stamp.

scripts/sign-setup asks this after osslsigncode failed to time-stamp, so that its sentence comes from what
the authority did, not from how one osslsigncode version words it (Debian 12's 2.5 and the backported 2.9
word the same failures differently).
"""

import hashlib
import http.client
import socket
import sys
import urllib.error
import urllib.request

from asn1crypto import tsp

TIMEOUT_SECONDS = 30


def query(path):
    with open(path, 'rb') as source:
        digest = hashlib.sha256(source.read()).digest()
    return tsp.TimeStampReq({'version': 1, 'cert_req': True, 'message_imprint': {
        'hash_algorithm': {'algorithm': 'sha256'}, 'hashed_message': digest}}).dump()


def answer(url, body):
    """(granted, what came of it)."""
    request = urllib.request.Request(url, data=body, headers={'Content-Type': 'application/timestamp-query'})
    try:
        with urllib.request.urlopen(request, timeout=TIMEOUT_SECONDS) as response:
            reply = response.read()
    except urllib.error.HTTPError as error:
        return False, f'HTTP {error.code} {error.reason}'
    except urllib.error.URLError as error:
        reason = error.reason
        if isinstance(reason, socket.timeout):
            return False, f'no answer within {TIMEOUT_SECONDS} s'
        return False, reason.strerror if isinstance(reason, OSError) and reason.strerror else str(reason)
    except socket.timeout:
        return False, f'no answer within {TIMEOUT_SECONDS} s'
    except (OSError, http.client.HTTPException) as error:
        return False, f'no HTTP answer ({error.strerror if isinstance(error, OSError) else type(error).__name__})'
    try:
        status = tsp.TimeStampResp.load(reply)['status']['status'].native
    except (ValueError, TypeError, KeyError):
        return False, 'no time stamp in its answer'
    if status in ('granted', 'granted_with_mods'):
        return True, 'it granted a time stamp'
    return False, f'no time stamp in its answer (status {status})'


def main(argv):
    if len(argv) != 2:
        print('usage: timestamp_probe.py URL FILE', file=sys.stderr)
        return 2
    granted, what = answer(argv[0], query(argv[1]))
    print(what)
    return 0 if granted else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
