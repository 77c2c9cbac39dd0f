// The document core builds and runs without any window system, so that it can be tested
// headless and so that the window layer stays a thin client of it. Every document header
// includes this one: a translation unit that has already pulled in wxWidgets stops here.
#pragma once

#if defined(__WXGTK__) || defined(__WXMSW__) || defined(__WXOSX__) || defined(__WXQT__) || \
    defined(_WX_DEFS_H_) || defined(wxUSE_GUI)
#error "app/document must not include wxWidgets: reach the windows through document_host.h"
#endif
