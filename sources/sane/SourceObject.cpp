// The shared object the Data Source Manager loads.  DS_Entry lives in the
// static core library; the link keeps it (--undefined=DS_Entry in
// CMakeLists.txt), since nothing in this object calls it.
#include "twain/Twain.h"
