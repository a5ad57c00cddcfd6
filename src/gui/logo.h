#pragma once

#include <QPixmap>

// The product logo, drawn rather than shipped as an image file.
QPixmap product_logo();
