#ifndef MCI_MCI_H
#define MCI_MCI_H

// Everything of the tree layer in one include.

#include "mci/dispatcher.h"
#include "mci/factory.h"
#include "mci/node.h"
#include "mci/node_structure.h"
#include "mci/notification.h"
#include "mci/tree_node.h"
#include "mci/types.h"

#endif
