// The default source picture, made by code.
#pragma once

#include "image.h"

// 256 x 256 grey; the same on every run.
GreyImage makeSourceImage();
