// Commands whose work belongs to texture loading, which is not built yet. They are in the
// command table so that the window layer can route them; until their work lands they leave
// the document untouched.
#include "app/document/grainforge_doc.h"

namespace grainforge::app {

void CGrainforgeDoc::OnTextureLoadFromDisk() {}

}  // namespace grainforge::app
