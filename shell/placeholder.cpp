// the shell is being built
