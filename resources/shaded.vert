// Passes the model's normal in eye coordinates on to the shaded and toon fragments, and
// with TEXTURED its texture coordinates; the rest is the fixed pipeline's.
varying vec3 eyeNormal;

void main()
{
    gl_Position = ftransform();
    eyeNormal = gl_NormalMatrix * gl_Normal;
    gl_FrontColor = gl_Color;
#ifdef TEXTURED
    gl_TexCoord[0] = gl_MultiTexCoord0;
#endif
}
