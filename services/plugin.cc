// The plugin's entry: nothing to do yet at load time beyond linking the services in.
