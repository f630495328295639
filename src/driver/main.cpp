// tolmar: a self-running piece of music and 18000 triangles. Takes no
// arguments; plays tolmar.mp3 from the working directory.
#include "driver/driver.h"

int main() { return runDemo(); }
