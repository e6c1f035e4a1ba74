void bsaAnsiPlaceholder() {}
