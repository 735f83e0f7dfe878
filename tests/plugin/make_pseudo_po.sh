#!/bin/sh
# make_pseudo_po.sh LIST OUTPUT: writes the pseudo-translation catalogue source of the message
# domain libkel2cifs for the language "xx" from the entries of LIST (localised_texts.def): each
# text becomes msgid "text" / msgstr "[[text]]", in the order of the list.
#
# The build runs it to make the catalogue the tests use; libkel2cifs-xx.po beside it is its
# output, kept for reading, and a test checks that the two agree. After changing the list:
#   sh tests/plugin/make_pseudo_po.sh tests/plugin/localised_texts.def tests/plugin/libkel2cifs-xx.po
set -eu

list=$1
output=$2
entry='^\(NOT_\)\{0,1\}LOCALISED("\([^"\\]*\)")$'

if bad=$(grep -v -e '^//' -e '^$' -e "$entry" "$list"); then
    echo "make_pseudo_po.sh: not an entry: $bad" >&2
    exit 1
fi

tmp=$output.tmp
{
    printf '# Pseudo-translation of libkel2cifs for the tests: every text becomes [[text]].\n'
    printf '# Written by make_pseudo_po.sh from localised_texts.def; do not edit.\n'
    printf 'msgid ""\n'
    printf 'msgstr ""\n'
    printf '"Project-Id-Version: libkel2cifs tests\\n"\n'
    printf '"Language: xx\\n"\n'
    printf '"MIME-Version: 1.0\\n"\n'
    printf '"Content-Type: text/plain; charset=UTF-8\\n"\n'
    printf '"Content-Transfer-Encoding: 8bit\\n"\n'
    sed -n "s/$entry/\\
msgid \"\\2\"\\
msgstr \"[[\\2]]\"/p" "$list"
} >"$tmp"
mv "$tmp" "$output"
