#pragma once
// The object list subsystem in one include: see objectlist.h for what the folder owns.
#include "objlist/changemark.h"
#include "objlist/listdocument.h"
#include "objlist/listeditor.h"
#include "objlist/listfile.h"
#include "objlist/objectlist.h"
#include "objlist/objectlistmodel.h"
#include "objlist/recovery.h"
