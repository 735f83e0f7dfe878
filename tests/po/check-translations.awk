# check-translations.awk: reads a catalogue as `msgcat --no-wrap` writes it (each msgid and msgstr
# on one line) and prints one line for each translation that breaks a rule of the pages: no
# ' " < > & or \, the original's printf directives in number and order, its leading and trailing
# spaces, and a final '.', ':', '?' or '!' of the original. Prints nothing when all is right.
function decode(text) {
    text = substr(text, 2, length(text) - 2)
    gsub(/\\\\/, "\001", text)
    gsub(/\\"/, "\"", text)
    gsub(/\\n/, "\n", text)
    gsub(/\\t/, "\t", text)
    gsub(/\001/, "\\", text)
    return text
}
function directives(text,    found) {
    found = ""
    while (match(text, /%[-+ #0]*[0-9*]*(\.[0-9*]+)?(hh|h|ll|l|z|j|t|L)?[diouxXeEfgGcsp%]/)) {
        found = found substr(text, RSTART, RLENGTH) " "
        text = substr(text, RSTART + RLENGTH)
    }
    return found
}
function leading(text) {
    match(text, /^ */)
    return RLENGTH
}
function trailing(text) {
    match(text, / *$/)
    return RLENGTH
}
function final(text) {
    sub(/ *$/, "", text)
    return substr(text, length(text), 1)
}
function say(what) {
    printf "%s: %s\n    msgstr: %s\n", what, id, str
    bad++
}
function check(    last) {
    if (id == "" || str == "") {
        return
    }
    if (str ~ /['"<>&\\]/) {
        say("a character the pages cannot take (' \" < > & \\)")
    }
    if (directives(id) != directives(str)) {
        say("printf directives differ (" directives(id) "/ " directives(str) ")")
    }
    if (leading(id) != leading(str)) {
        say("leading spaces differ")
    }
    if (trailing(id) != trailing(str)) {
        say("trailing spaces differ")
    }
    last = final(id)
    if (last ~ /[.:?!]/ && final(str) != last) {
        say("the final punctuation differs")
    }
}
/^msgid "/ {
    id = decode(substr($0, 7))
}
/^msgstr(\[[0-9]+\])? "/ {
    str = decode(substr($0, index($0, "\"")))
    check()
}
END {
    exit bad > 0
}
