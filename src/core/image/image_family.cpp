// The image module's entry.
#include "converter/families.h"
#include "image/image_converter.h"

extern "C" const lumatra::ImageFamily* lumatra_image_family() {
    static const lumatra::ImageFamily family{&lumatra::ImageConverter::convert};
    return &family;
}
