#pragma once

#include <cstddef>

extern const char XMLXHTMLEntityDTD[];
extern const std::size_t XMLXHTMLEntityDTDSize;
