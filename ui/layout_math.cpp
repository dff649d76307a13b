// Window arithmetic.
#include "ui/layout_math.h"

int CenteredOrigin(int origin, int outer, int inner) { return origin + (outer - inner) / 2; }
