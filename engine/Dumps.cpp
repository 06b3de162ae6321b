// Diagnostic dump writers of the engine.
