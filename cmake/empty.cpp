// Placeholder so that an engine layer without sources still forms a library.
