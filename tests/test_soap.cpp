// placeholder so the glob has a target until the foundation tests land
#include <gtest/gtest.h>
