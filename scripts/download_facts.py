"""Setup's download facts as the exe is built with them: res/catalogue.json, the catalogue the build writes
into the exe, so that scripts/release-check asks a host exactly as setup will and says setup's own sentences.
An entry that is missing or not of the expected kind stops the caller with a sentence naming it, rather than
leaving a script to judge a host by facts the exe no longer has."""

import json
import os

CATALOGUE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'res', 'catalogue.json')
# (section, name, field): what release-check reads.
WANTED = (
    ('download_facts', 'kUserAgent', 'text'),
    ('download_facts', 'kTimeoutMs', 'milliseconds'),
    ('download_facts', 'kBodyTimeLimitMs', 'milliseconds'),
    ('sentences', 'kRequestInterrupted', 'text'),
    ('sentences', 'kInstallerUnavailable', 'text'),
    ('sentences', 'kDownloadIncomplete', 'text'),
)


class FactsMissing(Exception):
    """The catalogue lacks an entry a script reads."""


def _refusing_duplicates(pairs):
    # A name given twice would be kept once, silently, by CMake's reader as by json's: refuse it here, where
    # release-check's own test reads the catalogue on every run.
    names = [name for name, _ in pairs]
    twice = sorted({name for name in names if names.count(name) > 1})
    if twice:
        raise ValueError(f'{", ".join(twice)} given twice')
    return dict(pairs)


def load(catalogue=CATALOGUE):
    """{entry's name: value}: the user agent and the sentences as str, the two limits (kTimeoutMs,
    kBodyTimeLimitMs) converted to seconds."""
    try:
        with open(catalogue, encoding='utf-8') as source:
            entries = json.load(source, object_pairs_hook=_refusing_duplicates)
    except OSError as error:
        raise FactsMissing(f'cannot read {catalogue}: {error.strerror}') from error
    except ValueError as error:
        raise FactsMissing(f'{catalogue} is not a catalogue: {error}') from error
    facts = {}
    for section, name, field in WANTED:
        names = entries.get(section) if isinstance(entries, dict) else None
        entry = names.get(name) if isinstance(names, dict) else None
        value = entry.get(field) if isinstance(entry, dict) else None
        kind = str if field == 'text' else int
        if not isinstance(value, kind) or isinstance(value, bool):
            raise FactsMissing(f'{catalogue} has no {name} in {section} with a "{field}"')
        facts[name] = value / 1000.0 if field == 'milliseconds' else value
    return facts
