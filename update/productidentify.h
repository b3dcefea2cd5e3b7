#pragma once

#include "errorreporter.h"
#include "producttable.h"
#include "ziparchive.h"

#include <cstddef>
#include <string>

// The package member that names the product. Packages without it are legacy packages.
inline constexpr char productInfoMember[] = "product.info";

// The longest product id read from "product.info". Real ids are a dozen bytes; a first line
// longer than this is not read further (a hostile package could otherwise make the reader
// allocate without limit) and is reported as an unsupported product.
inline constexpr std::size_t productInfoMaxBytes = 4096;

struct ProductMatch {
    // The first line of "product.info" exactly as stored (a carriage return stays part of
    // it), or "legacy" for a package without one.
    std::string name = legacyProductId;
    // The row of productTable for `name`; null until a supported product is found.
    const ProductInfo *info = nullptr;
};

// Finds which product the package in `archive` is for. Returns 0 with `match` filled in, or
// -1 after passing the reason to `report`.
int identifyProduct(ZipArchive &archive, ProductMatch &match, const ErrorReporter &report);
