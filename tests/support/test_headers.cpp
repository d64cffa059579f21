// Compiled only to make the precompiled headers that the test programs share.
