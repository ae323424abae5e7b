#!/usr/bin/env bash
# A short tour of the libraries through their command-line hosts. Run after a build
# (./setup.sh demo does both). Each line shows the call and what it printed. Every section shows
# calls that work first; a failure shown on purpose is announced by a "failure on purpose" line.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
KESTRUN="$BUILD_DIR/tools/kestrun/kestrun"
SAFE_EVAL="$BUILD_DIR/tools/safe-eval/safe-eval"
DEMO_DIR=$(mktemp -d /tmp/kestrun-demo.XXXXXX)
trap 'rm -rf "$DEMO_DIR"' EXIT

show() {
    echo "\$ $*"
    "$@"
    echo
}

# Announces that the next call fails on purpose, and why.
on_purpose() {
    echo "# failure on purpose: $*"
}

# Runs a kestrun session (one process, one call per line, $variables shared between calls)
# from standard input, echoing each line before what it printed.
session() {
    echo "\$ kestrun -e <<'END'  (a session: one process, one call per line)"
    "$KESTRUN" -e
    echo
}

echo "== Text codecs =="
show "$KESTRUN" Base64Encode_UTF8 你好
show "$KESTRUN" Base64Decode_UTF8 5L2g5aW9
show "$KESTRUN" Base64Encode_GB 你好
show "$KESTRUN" -x Base64Decode_GB QQBC

echo "== URL, Unicode escapes, HTML entities, hex =="
show "$KESTRUN" UrlEncode_UTF8 "你好 world&x=1"
show "$KESTRUN" UrlDecode_UTF8 "%E4%BD%A0%E5%A5%BD+world"
show "$KESTRUN" UnicodeEncode 中文
show "$KESTRUN" UnicodeDecode '\u006e\u0075\u0308\u030c\u4e2d'
show "$KESTRUN" HTMLEncode '<a href="x">Tom & Jerry</a>'
show "$KESTRUN" StrToHex_UTF8 你好 1
show "$KESTRUN" HexToStr_UTF8 E4BDA0E5A5BD

echo "== MD5 and AES =="
show "$KESTRUN" MD532_UTF8 你好
show "$KESTRUN" MD516_GB abc
AES_CIPHER=$("$KESTRUN" AESEncrypt_UTF8 你好世界 1234567890123456 abcdefghijklmnop 1 1 0)
show "$KESTRUN" AESEncrypt_UTF8 你好世界 1234567890123456 abcdefghijklmnop 1 1 0
show "$KESTRUN" AESDecrypt_UTF8 "$AES_CIPHER" 1234567890123456 abcdefghijklmnop 1 1 0
printf 'first line\nsecond line\n' >"$DEMO_DIR/plain.txt"
show "$KESTRUN" AESEncryptTxtFile_GB "$DEMO_DIR/plain.txt" "$DEMO_DIR/cipher.bin" key iv 1
show "$KESTRUN" AESDecryptTxtFile_GB "$DEMO_DIR/cipher.bin" "$DEMO_DIR/back.txt" key iv 1
show cat "$DEMO_DIR/back.txt"
on_purpose "the target is the source file itself, so it is refused untouched"
show "$KESTRUN" AESEncryptTxtFile_GB "$DEMO_DIR/plain.txt" "$DEMO_DIR/./plain.txt" key iv 1

echo "== QR codes and images =="
show "$KESTRUN" MakeQRCode "扫我：Kestrun 二维码" "$DEMO_DIR/qr.jpg" 0 1 90
show "$KESTRUN" ScanQRImage "$DEMO_DIR/qr.jpg" 1
show "$KESTRUN" MakeQRCode "https://example.com/?q=1" "$DEMO_DIR/qr.bmp" 3 3
show "$KESTRUN" ImageToJPG "$DEMO_DIR/qr.bmp" "$DEMO_DIR/from-bmp.jpg" 60
show "$KESTRUN" ScanQRImage "$DEMO_DIR/from-bmp.jpg" 0
show "$KESTRUN" ImageToBMP "$DEMO_DIR/qr.jpg" "$DEMO_DIR/back.bmp"
show "$KESTRUN" ScanQRImage "$DEMO_DIR/back.bmp" 1
on_purpose "only .bmp and .jpg files can be written"
show "$KESTRUN" MakeQRCode text "$DEMO_DIR/qr.png"

echo "== PDF annotations and merging =="
# Two one-page PDFs with one annotation each, as bare PDF text (the reader rebuilds the missing
# cross-reference table).
demo_pdf() {
    printf '%%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots [4 0 R] >> endobj\n4 0 obj << /Type /Annot /Subtype /%s /Rect [10 10 30 30] /T (%s) /Contents (%s) >> endobj\ntrailer << /Root 1 0 R >>\n%%%%EOF\n' "$2" "$3" "$4" >"$1"
}
demo_pdf "$DEMO_DIR/one.pdf" Text Alice "Check page one"
demo_pdf "$DEMO_DIR/two.pdf" Highlight Bob "Looks good"
show "$KESTRUN" GetAnnotationFromPDF "$DEMO_DIR/one.pdf"
# A file that does not open is skipped by the merge.
show "$KESTRUN" CombinePDF "$DEMO_DIR/one.pdf|$DEMO_DIR/missing.pdf|$DEMO_DIR/two.pdf" "$DEMO_DIR/merged.pdf"
show "$KESTRUN" GetAnnotationFromPDF "$DEMO_DIR/merged.pdf"
on_purpose "the file does not exist"
show "$KESTRUN" GetAnnotationFromPDF "$DEMO_DIR/missing.pdf"

echo "== HTTP requests (only the checks made before any connection) =="
on_purpose "only http and https addresses are requested"
show "$KESTRUN" XMLHTTP_Get ftp://example.com/file "" "" 1 0
on_purpose "there is no request object of kind 3"
show "$KESTRUN" XMLHTTP_Post http://example.com/ "a=1" "" "" 1 3
on_purpose "each row fails its own check: a method other than GET or POST, no address, ftp"
show "$KESTRUN" Net_MT "$(printf 'http://example.com/|PUT||||\n|GET||||\nftp://example.com/|GET||||')"

echo "== SQLite and INI files =="
# One session, so the connection handle that SQLite_Open writes into $db reaches the later calls.
# Each SQLite_Execute runs its statements as one transaction.
session <<END
SQLite_Open \$db "$DEMO_DIR/城市.db" \$message
SQLite_Execute \$db "create table 城市(名称 text primary key, 省份 text, 人口万 integer)" \$message
SQLite_Execute \$db "insert into 城市 values('北京', '北京', 2189); insert into 城市 values('上海', '上海', 2487); insert into 城市 values('广州', '广东', 1868)" \$message
SQLite_ReadData \$db "select 名称, 省份, 人口万 from 城市 order by 人口万 desc" \$rows \$message
# failure on purpose: the second row repeats a name, so the whole batch is rolled back
SQLite_Execute \$db "insert into 城市 values('深圳', '广东', 1766); insert into 城市 values('北京', '北京', 0)" \$message
SQLite_ReadData \$db "select count(*) from 城市" \$count \$message
SQLite_Close \$db
END
show "$KESTRUN" WriteINIValue 用户 姓名 张三丰 "$DEMO_DIR/demo.ini"
show "$KESTRUN" WriteINIValue 用户 城市 北京 "$DEMO_DIR/demo.ini"
show "$KESTRUN" ReadINIValue 用户 姓名 无 "$DEMO_DIR/demo.ini"
show sh -c "iconv -f GBK -t UTF-8 '$DEMO_DIR/demo.ini' | tr -d '\r'"
# A key that is not there gives the default.
show "$KESTRUN" ReadINIValue 用户 年龄 "(none)" "$DEMO_DIR/demo.ini"

echo "== Markup stripping, regular expressions and text utilities =="
show "$KESTRUN" NoHTML '<STYLE>p{x:1}</style><p>Tom &amp; Jerry&nbsp;&nbsp; say <b>hi</b></p>' 15
show "$KESTRUN" Regex_Search "a12b345cd6" '\d+' "" -1
show "$KESTRUN" Regex_Search "价格：12元，345元" '\d+元' "" 1
show "$KESTRUN" Regex_Replace "John Smith, jane doe" '(\w+) (\w+)' '$2 $1'
show "$KESTRUN" Regex_Replace "ABC abc" 'abc' '[$&]'
show "$KESTRUN" ExplodeData "id=<12345>;" "<" ">"
show "$KESTRUN" StrCompare "kestrun" "kestrel"
show "$KESTRUN" Permutation abc , 0
show "$KESTRUN" Combination abcd " " 0
on_purpose "the pattern's parenthesis is not closed"
show "$KESTRUN" Regex_Search "abc" 'a(' "" -1

echo "== VBScript =="
show "$KESTRUN" RunVBFunction 'Function Greet(name, n) : Greet = String(n, "*") & " 你好，" & name : End Function' Greet '世界|3'
# Two calls on two threads; the second divides by zero and reports it in its own row.
show "$KESTRUN" RunVBFunction_MT $'Function Sq(n) : Sq = n * n : End Function|Sq|\nFunction Sq(n) : Sq = n / 0 : End Function|Sq|' $'1|7\n1|8' '|'
on_purpose "division by zero"
show "$KESTRUN" RunVBScript 'x = 1 : y = x / 0'

echo "== Clipboard and dialogs =="
# Both need an X display; a dialog waits for the user, so it is shown only on a desktop.
if [ -n "${DISPLAY:-}" ]; then
    show "$KESTRUN" Win_CopyFileToClipBoard "$DEMO_DIR/plain.txt"
    if command -v xclip >/dev/null; then
        show xclip -o -selection clipboard -t text/uri-list
    fi
    show "$KESTRUN" ShowOpenFile 0 "Text files|*.txt|All files|*.*" "$DEMO_DIR" "" "|" 1
else
    on_purpose "no X display (DISPLAY is not set), so the clipboard cannot be taken: 0"
    show "$KESTRUN" Win_CopyFileToClipBoard "$DEMO_DIR/plain.txt"
fi

echo "== Safe evaluator =="
show "$SAFE_EVAL" --asm 'PUSH_STR "caf\xc3\xa9\n"; PUSH_STR "au lait"; ADD'
show "$SAFE_EVAL" --hex '01 00 00 00 00 00 00 00 80 01 ff ff ff ff ff ff ff ff 13'
on_purpose "division by zero"
show "$SAFE_EVAL" --asm 'PUSH_INT 1; PUSH_INT 0; DIV'
