/* outer /* inner */ still */
val s = """
// in
"""
val c = 'a' // c
