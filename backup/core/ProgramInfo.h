#pragma once
// What the program tells about itself: its version, the maker's addresses and the libraries
// it packs and unpacks archives with.
#include <QString>

// The four-part version of the program file ("2.1.0.9"). Read in this one place, so it can be
// pointed at the version marker the program file carries.
QString ProgramVersion();

namespace ProgramInfo {
// The maker's web page as the tool bar's link shows it, and as the shell opens it.
QString MakerCaption();
QString MakerHomePage();
// The support mail link as shown, and as opened: with a prepared subject, to which the about
// box appends the version.
QString SupportMail();
QString SupportMailWithSubject();
// The line naming the archive libraries with the versions loaded at run time, and their
// project pages.
QString ZipLibrariesText();
QString WriterLibraryPage();
QString ReaderLibraryPage();
} // namespace ProgramInfo
