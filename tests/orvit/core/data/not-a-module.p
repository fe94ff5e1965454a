# Plain text where a module file should be: guards the loader against a file
# that the system cannot load at all.
