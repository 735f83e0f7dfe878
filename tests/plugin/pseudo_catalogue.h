// pseudo_catalogue.h: points the plug-in at the test catalogue, in which every listed text of
// localised_texts.def is translated to "[[text]]" for the language "xx".
//
// The catalogue is built under KEL2CIFS_TEST_LOCALE_ROOT (a build directory) as
// <root>/opt/zantio/cifs/locale/xx/LC_MESSAGES/libkel2cifs.mo. glibc ignores LANGUAGE under the
// "C" locale, so the process takes C.UTF-8, which every glibc system has.
#ifndef KEL2CIFS_TESTS_PLUGIN_PSEUDO_CATALOGUE_H
#define KEL2CIFS_TESTS_PLUGIN_PSEUDO_CATALOGUE_H

#include <clocale>
#include <cstdlib>

#include <gtest/gtest.h>

#include "plugin/paths.h"

namespace kel2cifs::expected {

// Must run before the first lnxMSG of the process: the domain is bound only once.
inline void UsePseudoCatalogue() {
    ASSERT_EQ(setenv(kRootVariable, KEL2CIFS_TEST_LOCALE_ROOT, 1), 0);
    ResolvePaths();
    ASSERT_EQ(setenv("LANGUAGE", "xx", 1), 0);
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
}

// The catalogue directory the plug-in binds the domain to.
inline constexpr char kPseudoLocaleDirectory[] =
    KEL2CIFS_TEST_LOCALE_ROOT "/opt/zantio/cifs/locale";

}  // namespace kel2cifs::expected

#endif  // KEL2CIFS_TESTS_PLUGIN_PSEUDO_CATALOGUE_H
