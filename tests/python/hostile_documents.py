"""Hostile documents, each built at a chosen size n with the counts it must produce.

Shared by tests/python/test_hostile.py (modest n) and tools/hostile.py (large n).
"""

from __future__ import annotations

from typing import Callable

# name -> (document of size n, expected counts for that n)
Case = Callable[[int], "tuple[bytes, dict[str, int]]"]


def ampersand_letters(n):
    return b"&" + b"a" * n, {"Character": n + 1, "EOF": 1}


def ampersand_letters_semicolon(n):
    # A long alphanumeric run ending in ";" that names nothing is one parse error.
    return b"&" + b"a" * n + b";", {"Character": n + 2, "ParseError": 1, "EOF": 1}


def ampersand_hash(n):
    return b"&#" * n, {"Character": 2 * n, "ParseError": n, "EOF": 1}


def ampersand_hash_x(n):
    return b"&#x" * n, {"Character": 3 * n, "ParseError": n, "EOF": 1}


def long_number(n):
    # The value must not wrap around to a small code point.
    return b"&#" + b"9" * n + b";", {"Character": 1, "ParseError": 1, "EOF": 1}


def distinct_attributes(n):
    names = b"".join(b" a%d" % i for i in range(n))
    return b"<p" + names + b">", {"StartTag": 1, "attributes": n, "text": 1 + len(names) - n, "EOF": 1}


def duplicate_attributes(n):
    return b"<p" + b" x=1" * n + b">", {
        "StartTag": 1,
        "attributes": 1,
        "text": 3,
        "ParseError": n - 1,
        "EOF": 1,
    }


def long_comment(n):
    return b"<!--" + b"x" * n + b"-->", {"Comment": 1, "text": n, "EOF": 1}


def bogus_comments(n):
    return b"<!x>" * n, {"Comment": n, "text": n, "ParseError": n, "EOF": 1}


def long_attribute_value(n):
    return b'<p a="' + b"v" * n + b'">', {"StartTag": 1, "attributes": 1, "text": n + 2, "EOF": 1}


def long_tag_name(n):
    return b"<" + b"t" * n + b">", {"StartTag": 1, "text": n, "EOF": 1}


def long_public_identifier(n):
    document = b'<!DOCTYPE html PUBLIC "' + b"p" * n + b'">'
    return document, {"DOCTYPE": 1, "text": n + 4, "EOF": 1}


def less_than_signs(n):
    return b"<" * n, {"Character": n, "ParseError": n, "EOF": 1}


def nul_bytes(n):
    return b"\0" * n, {"Character": n, "ParseError": n, "EOF": 1}


def invalid_utf8(n):
    return b"\xff" * n, {"Character": n, "EOF": 1}


CASES: dict[str, Case] = {
    case.__name__: case
    for case in (
        ampersand_letters,
        ampersand_letters_semicolon,
        ampersand_hash,
        ampersand_hash_x,
        long_number,
        distinct_attributes,
        duplicate_attributes,
        long_comment,
        bogus_comments,
        long_attribute_value,
        long_tag_name,
        long_public_identifier,
        less_than_signs,
        nul_bytes,
        invalid_utf8,
    )
}

# Prefixes that leave the tokenizer in each of its states; every byte value is
# tried right after each of them, then at the end of the input.
STATE_PREFIXES = [
    b"",
    b"&",
    b"&#",
    b"&#x",
    b"&#1",
    b"&#x1",
    b"&a",
    b"&amp",
    b"&notin",
    b"<",
    b"</",
    b"</a",
    b"<a",
    b"<a/",
    b"<a ",
    b"<a b",
    b"<a b ",
    b"<a b=",
    b'<a b="',
    b"<a b='",
    b"<a b=c",
    b'<a b=""',
    b'<a b="&',
    b"<a b='&",
    b"<a b=&",
    b'<a b="&amp',
    b"<!",
    b"<!-",
    b"<!--",
    b"<!---",
    b"<!-- x",
    b"<!-- x-",
    b"<!-- x--",
    b"<!-- x--!",
    b"<?",
    b"<!D",
    b"<!DOCTYPE",
    b"<!DOCTYPE ",
    b"<!DOCTYPE a",
    b"<!DOCTYPE a ",
    b"<!DOCTYPE a P",
    b"<!DOCTYPE a PUBLIC",
    b"<!DOCTYPE a PUBLIC ",
    b'<!DOCTYPE a PUBLIC "',
    b"<!DOCTYPE a PUBLIC '",
    b'<!DOCTYPE a PUBLIC ""',
    b'<!DOCTYPE a PUBLIC "" ',
    b'<!DOCTYPE a PUBLIC "" "',
    b"<!DOCTYPE a SYSTEM",
    b"<!DOCTYPE a SYSTEM ",
    b'<!DOCTYPE a SYSTEM "',
    b"<!DOCTYPE a SYSTEM '",
    b'<!DOCTYPE a SYSTEM ""',
    b"<!DOCTYPE a x",
]
