/* a /* b */ c */
val s = """/* no"""
