What mimefilter prints and its exit status: 0 on success; 1 when the module,
the input or the output fails, or --strict finds bad data; 2 on a usage
error; 130 on SIGINT. The runner (cli_test.lua) sets MIME_LUA, MIME_ROOT and
the module's search paths; the tool runs under MIME_LUA.

  $ mkdir bin && printf '#!/bin/sh\nexec "%s" "%s/bin/mimefilter" "$@"\n' "$MIME_LUA" "$MIME_ROOT" > bin/mimefilter
  $ chmod +x bin/mimefilter && PATH=$PWD/bin:$PATH

Line lengths; -w 0 (or --no-wrap) writes one line and ends it; --line-end
chooses the encoders' line end too.

  $ printf 'hello world!' | mimefilter b64 -w 8
  aGVsbG8g\r (esc)
  d29ybGQh\r (esc)
  $ printf 'hello world!' | mimefilter base64-encode --line-length=12 --line-end lf
  aGVsbG8gd29y
  bGQh
  $ printf 'hello world!' | mimefilter b64 -w0 --line-end lf
  aGVsbG8gd29ybGQh
  $ printf 'hello world!' | mimefilter b64 --no-wrap
  aGVsbG8gd29ybGQh\r (esc)
  $ mimefilter b64 -w 0 < /dev/null | wc -c
  0
  $ printf 'a = b\nline two, long enough to wrap' | mimefilter qp -w 12 --line-end lf
  a =3D b
  line two, l=
  ong enough =
  to wrap=
  $ printf 'a = b\nno soft breaks at all' | mimefilter qp -w 0 --line-end lf
  a =3D b
  no soft breaks at all=

Decoding: quoted-printable with any line ends; --strict names the offset of
the first byte that the lenient decoder would drop or copy undecoded (what
was decoded before it is written).

  $ printf 'caf=C3=A9 =3D=\n 3\n' | mimefilter unqp | od -An -c
     c   a   f 303 251       =       3  \r  \n
  $ printf 'YWJj\nZA==\n' | mimefilter unb64 --strict
  abcd (no-eol)
  $ printf 'YWJj\r\nZA=!' | mimefilter unb64 --strict
  mimefilter: standard input: invalid base64 at byte 10: '!' is not a Base64 character
  [1]
  $ printf 'YWJjZA' > short.b64 && mimefilter base64-decode short.b64 --strict
  mimefilter: short.b64: invalid base64 at byte 5: the last group is incomplete
  abc (no-eol)
  [1]
  $ printf 'price: 5 =E2=82=AC=\n=3' | mimefilter unqp --strict
  mimefilter: standard input: invalid quoted-printable at byte 21: escape left unfinished at the end
  price: 5 \xe2\x82\xac (no-eol) (esc)
  [1]
  $ printf 'x=4\n' | mimefilter unqp --strict
  mimefilter: standard input: invalid quoted-printable at byte 2: malformed escape '=4\10'
  [1]

SMTP data ends with the "." line.

  $ printf '.hidden\nend' | mimefilter smtp
  ..hidden\r (esc)
  end\r (esc)
  .\r (esc)

Usage errors.

  $ mimefilter
  mimefilter: no operation given (try 'mimefilter --help')
  [2]
  $ mimefilter frobnicate
  mimefilter: unknown operation 'frobnicate' (try 'mimefilter --help')
  [2]
  $ mimefilter --frobnicate
  mimefilter: unknown operation '--frobnicate' (try 'mimefilter --help')
  [2]
  $ mimefilter b64 --frobnicate
  mimefilter: unknown option '--frobnicate' (try 'mimefilter --help')
  [2]
  $ mimefilter b64 --line-length abc
  mimefilter: bad value for --line-length: 'abc' (expected 0, or a whole number from 1 to 2147483647) (try 'mimefilter --help')
  [2]
  $ mimefilter b64 -w -5
  mimefilter: bad value for -w: '-5' (expected 0, or a whole number from 1 to 2147483647) (try 'mimefilter --help')
  [2]
  $ mimefilter b64 --line-length=7.5
  mimefilter: bad value for --line-length: '7.5' (expected 0, or a whole number from 1 to 2147483647) (try 'mimefilter --help')
  [2]
  $ mimefilter b64 -w 2147483648
  mimefilter: bad value for -w: '2147483648' (expected 0, or a whole number from 1 to 2147483647) (try 'mimefilter --help')
  [2]
  $ mimefilter qp -w 3
  mimefilter: bad value for -w: '3' (expected 0, or a whole number from 4 to 2147483647) (try 'mimefilter --help')
  [2]
  $ mimefilter b64 --line-length
  mimefilter: option --line-length needs a value (try 'mimefilter --help')
  [2]
  $ mimefilter eol --line-end foo
  mimefilter: bad value for --line-end: 'foo' (expected crlf, lf or cr) (try 'mimefilter --help')
  [2]
  $ mimefilter eol --line-end=
  mimefilter: bad value for --line-end: '' (expected crlf, lf or cr) (try 'mimefilter --help')
  [2]
  $ mimefilter b64 --no-wrap=yes
  mimefilter: option --no-wrap takes no value (try 'mimefilter --help')
  [2]
  $ mimefilter unb64 --no-wrap
  mimefilter: option --no-wrap does not apply to unb64 (try 'mimefilter --help')
  [2]
  $ mimefilter eol -w 10
  mimefilter: option -w does not apply to eol (try 'mimefilter --help')
  [2]
  $ mimefilter b64 --strict
  mimefilter: option --strict does not apply to b64 (try 'mimefilter --help')
  [2]
  $ mimefilter smtp --line-end lf
  mimefilter: option --line-end does not apply to smtp (try 'mimefilter --help')
  [2]
  $ mimefilter b64 one two
  mimefilter: more than one input file given (try 'mimefilter --help')
  [2]

Conflicting options are usage errors too.

  $ mimefilter b64 --no-wrap --line-length 10
  mimefilter: options --no-wrap and --line-length conflict (try 'mimefilter --help')
  [2]
  $ mimefilter b64 -w 10 --line-length 20
  mimefilter: option --line-length conflicts with -w given before it (try 'mimefilter --help')
  [2]
  $ mimefilter eol --line-end lf --line-end=cr
  mimefilter: option --line-end conflicts with --line-end given before it (try 'mimefilter --help')
  [2]

Input, output and the module failing.

  $ mimefilter b64 /nonexistent/file
  mimefilter: cannot open /nonexistent/file: No such file or directory
  [1]
  $ mimefilter b64 .
  mimefilter: cannot read .: Is a directory
  [1]
  $ echo hi | mimefilter b64 > /dev/full
  mimefilter: cannot write output: No space left on device
  [1]
  $ mimefilter --help > /dev/full
  mimefilter: cannot write output: No space left on device
  [1]
  $ mimefilter --version > /dev/full
  mimefilter: cannot write output: No space left on device
  [1]
  $ LUA_CPATH=/nonexistent/?.so MIME_BUILD_DIR=/nonexistent mimefilter b64 < /dev/null 2> error
  [1]
  $ head -n 1 error; tail -n 1 error | tr -d "\t"
  mimefilter: cannot load mime.core: module 'mime.core' not found:
  no mime.core built for * in /nonexistent (run 'sh tools/test.sh', which builds it for every Lua installed) (glob)
  $ LUA_CPATH=/nonexistent/?.so MIME_BUILD_DIR=/nonexistent mimefilter b64 --help | head -n 1
  Usage: mimefilter OPERATION [OPTIONS] [FILE]

Outside a checkout (installed) the tool uses Lua's search paths alone.

  $ cp "$MIME_ROOT/bin/mimefilter" installed-mimefilter
  $ LUA_PATH=/nonexistent/?.lua "$MIME_LUA" installed-mimefilter b64 < /dev/null 2> error; echo "[$?]"; head -n 1 error
  [1]
  mimefilter: cannot load mime.stream: module 'mime.stream' not found:

At a terminal one end-of-file key ends the input: the bytes typed after it
are not read.

  $ { printf 'hi\n'; sleep 0.5; printf '\004'; sleep 0.5; printf 'late\n\004'; } | script -qec 'mimefilter b64 > typed.b64' /dev/null > /dev/null
  $ cat typed.b64
  aGkK\r (esc)

SIGINT ends the tool with status 130 and no traceback.

  $ timeout --preserve-status -k 10 -s INT 1 mimefilter b64 < /dev/zero > /dev/null
  [130]
