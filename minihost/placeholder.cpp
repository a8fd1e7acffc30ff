// Replaced by the stand-in host sources.
