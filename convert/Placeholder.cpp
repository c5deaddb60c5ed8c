// placeholder until the converter lands
