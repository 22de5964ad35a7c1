// Filled in with the scripted transport.
