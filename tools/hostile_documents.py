"""Hostile documents, each built at a chosen size n with the counts it must produce.

Used by tools/hostile.py, which builds them at full size and also tries every byte after each of the
STATE_PREFIXES.
"""


def with_eof(**counts):
    """The given counts and the single end of file that every document ends in."""
    return {**counts, "EOF": 1}


def distinct_attributes(n):
    names = b"".join(b" a%d" % i for i in range(n))
    return b"<p" + names + b">", with_eof(StartTag=1, attributes=n, text=1 + len(names) - n)


# name -> function of n returning (the document, the counts it must produce)
CASES = {
    "ampersand_letters": lambda n: (b"&" + b"a" * n, with_eof(Character=n + 1)),
    # A long alphanumeric run ending in ";" that names nothing is one parse error.
    "ampersand_letters_semicolon": lambda n: (
        b"&" + b"a" * n + b";",
        with_eof(Character=n + 2, ParseError=1),
    ),
    "ampersand_hash": lambda n: (b"&#" * n, with_eof(Character=2 * n, ParseError=n)),
    "ampersand_hash_x": lambda n: (b"&#x" * n, with_eof(Character=3 * n, ParseError=n)),
    # The value must not wrap around to a small code point.
    "long_number": lambda n: (b"&#" + b"9" * n + b";", with_eof(Character=1, ParseError=1)),
    "distinct_attributes": distinct_attributes,
    "duplicate_attributes": lambda n: (
        b"<p" + b" x=1" * n + b">",
        with_eof(StartTag=1, attributes=1, text=3, ParseError=n - 1),
    ),
    "long_comment": lambda n: (b"<!--" + b"x" * n + b"-->", with_eof(Comment=1, text=n)),
    "bogus_comments": lambda n: (b"<!x>" * n, with_eof(Comment=n, text=n, ParseError=n)),
    "long_attribute_value": lambda n: (
        b'<p a="' + b"v" * n + b'">',
        with_eof(StartTag=1, attributes=1, text=n + 2),
    ),
    "long_tag_name": lambda n: (b"<" + b"t" * n + b">", with_eof(StartTag=1, text=n)),
    "long_public_identifier": lambda n: (
        b'<!DOCTYPE html PUBLIC "' + b"p" * n + b'">',
        with_eof(DOCTYPE=1, text=n + 4),
    ),
    "less_than_signs": lambda n: (b"<" * n, with_eof(Character=n, ParseError=n)),
    "nul_bytes": lambda n: (b"\0" * n, with_eof(Character=n, ParseError=n)),
    "invalid_utf8": lambda n: (b"\xff" * n, with_eof(Character=n)),
}

# Every proper prefix of these leaves the tokenizer in one of its states; every byte
# value is tried right after each prefix, then at the end of the input.
WALKS = (
    b'&#x1;|&#1;|&amp;|&notin;|</a>|<a/>|<a b >|<a b=c>|<a b="">|<a b="&amp;">|<a b=\'&\'>|<a b=&>|'
    b'<!-- x--!>|<!--->|<?>|<!DOCTYPE a PUBLIC "" "">|<!DOCTYPE a PUBLIC \'\'>|<!DOCTYPE a SYSTEM "">|'
    b"<!DOCTYPE a SYSTEM ''>|<!DOCTYPE a x>"
).split(b"|")
STATE_PREFIXES = sorted({walk[:end] for walk in WALKS for end in range(len(walk))})
