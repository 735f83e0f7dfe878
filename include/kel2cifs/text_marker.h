// text_marker.h: marks a text kept in a table for the message catalogues. It is looked up
// (lnxMSG) where it is shown; the marker only lets xgettext find it (keyword TextToTranslate).
#ifndef KEL2CIFS_TEXT_MARKER_H
#define KEL2CIFS_TEXT_MARKER_H

constexpr const char *TextToTranslate(const char *text) {
    return text;
}

#endif  // KEL2CIFS_TEXT_MARKER_H
