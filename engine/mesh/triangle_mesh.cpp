#include "engine/mesh/triangle_mesh.h"
