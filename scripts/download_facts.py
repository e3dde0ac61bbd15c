"""Setup's download facts as the exe is built with them: download/download_facts.h, read with strict
patterns, so that scripts/release-check asks a host exactly as setup will and says setup's own sentences.
A constant that is missing or no longer in the expected form stops the caller with a sentence naming it,
rather than leaving a script to judge a host by facts the exe no longer has."""

import os
import re

HEADER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'download', 'download_facts.h')
NUMBER = r"([0-9][0-9']*)"
TEXT = r'"([^"\\]+)"'
PATTERNS = {
    'kUserAgent': r'inline constexpr wchar_t kUserAgent\[\] =\s*L' + TEXT + ';',
    'kTimeoutMs': r'inline constexpr int kTimeoutMs =\s*' + NUMBER + ';',
    'kBodyTimeLimitMs': r'inline constexpr std::uint64_t kBodyTimeLimitMs =\s*' + NUMBER + ';',
}
SENTENCES = ('kRequestInterrupted', 'kUnavailable', 'kIncomplete')


class FactsMissing(Exception):
    """download_facts.h lacks a constant a script reads."""


def load(header=HEADER):
    """{constant's name: value}: the user agent and the sentences as str, the two limits (kTimeoutMs,
    kBodyTimeLimitMs) converted to seconds."""
    try:
        with open(header, encoding='utf-8') as source:
            text = source.read()
    except OSError as error:
        raise FactsMissing(f'cannot read {header}: {error.strerror}') from error
    patterns = dict(PATTERNS, **{name: rf'inline constexpr char {name}\[\] =\s*' + TEXT + ';' for name in SENTENCES})
    facts = {}
    for name, pattern in patterns.items():
        found = re.findall(r'^' + pattern + r'$', text, re.MULTILINE)
        if len(found) != 1:
            raise FactsMissing(f'{header} has {"no" if not found else "more than one"} {name} in the form '
                               f'{pattern!r}')
        facts[name] = found[0]
    for name in ('kTimeoutMs', 'kBodyTimeLimitMs'):
        facts[name] = int(facts[name].replace("'", '')) / 1000.0
    return facts
