// The document core builds and runs without any window system, so that it can be tested
// headless and so that the window layer stays a thin client of it. Every document header
// includes this one. While the document library itself is compiled (TESSARY_DOCUMENT_CORE,
// set for its own sources only), a window system's defines mean it was linked to one: the
// build stops here. The window layer includes these headers freely.
#pragma once

#if defined(TESSARY_DOCUMENT_CORE) &&                                                      \
    (defined(__WXGTK__) || defined(__WXMSW__) || defined(__WXOSX__) || defined(__WXQT__) || \
        defined(_WX_DEFS_H_) || defined(wxUSE_GUI))
#error "app/document must not use wxWidgets: it reaches the windows through document_host.h"
#endif
